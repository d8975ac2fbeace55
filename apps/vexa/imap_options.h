// The command-line options of scan and watch that name an IMAP account instead of the Maildir.
#pragma once

#include <optional>
#include <vector>

#include "apps/vexa/option_parser.h"
#include "linux/imap_account.h"

namespace vexa::cli {

// The option rules of the commands that take an IMAP account.
std::vector<OptionRule> ImapOptionRules();
// The account named by --imap, else by the settings file's [Mailbox] section (Url=,
// PasswordCommand=, OAuth2TokenCommand=, CaFile=); nothing when neither names one or --maildir
// chooses the Maildir. The section's settings apply to the account --imap names when its Url=
// names the same one; each option given overrides its setting.
std::optional<linuxhost::ImapAccount> ImapAccountOf(const ParsedOptions& options);

}  // namespace vexa::cli
