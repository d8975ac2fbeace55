// The subscribed folders of a Maildir, as Dovecot keeps them in "subscriptions" at the Maildir's
// root: many mail readers show only subscribed folders, so a folder that vexa creates is
// subscribed at once, or its messages would seem gone.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vexa::maildir {

// The subscriptions text `text` with the Maildir++ folder `name` ("Fax.Old" is Old inside Fax)
// added; nullopt when it is already there. An empty text becomes Dovecot's current format (a
// "V\t2" header, a blank line, one folder a line with its levels split by tabs); a file in the
// older format (one name a line, levels split by ".") is kept in that format.
std::optional<std::string> WithSubscription(const std::string& text, const std::string& name);

// Subscribes the folder `name` of the Maildir at `root`, under Dovecot's lock. HostError on failure.
void Subscribe(const std::filesystem::path& root, const std::string& name);

}  // namespace vexa::maildir
