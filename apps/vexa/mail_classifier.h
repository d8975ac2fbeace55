// What a mail handed over by SMTP is, told by the settings and by where its envelope sends it,
// for the relay, which asks for every mail it takes. The add-in it asks is kept from mail to
// mail: building one for each (the settings read, a scratch mailbox made and removed) costs more
// than relaying an ordinary mail does. The settings file is looked at for each mail, and a change
// to it (the options edited, or written by the archiving of a fax) builds the add-in again.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "adapters/maildir/maildir_mail.h"
#include "apps/vexa/command_runtime.h"

namespace vexa::cli {

// Gives `item` the envelope's recipients that none of its fields names, as its blind copies: the
// mail program took the Bcc: field out before handing the mail over, and the add-in tells a fax
// by its recipients in the order To, Cc, Bcc.
void AddEnvelopeOnlyRecipients(maildir::MaildirMailItem& item, const std::vector<std::string>& envelope);

enum class MailKind {
    Ordinary,  // relayed as it is: the send event would leave it alone, or it does not go to the
               // gateway at all (a fax redirected to a colleague), so there is nothing to record
    Fax,       // a fax for the gateway: archived and tagged before it goes
    // Goes to the gateway, but the add-in does not take it for a fax (the gateway not its first
    // recipient): the service would send it, and nothing would record it.
    UnrecordedFax,
};

class MailClassifier {
public:
    // `lock` is the one every run of the add-in in this process is made under: the add-in is
    // for one thread at a time.
    explicit MailClassifier(std::mutex& lock);
    ~MailClassifier();

    // A message that does not parse, or a question that fails, is a Fax: the mail then takes the
    // whole road, which decides for itself.
    MailKind Classify(const std::string& message, const std::vector<std::string>& envelope);

private:
    struct Stamp;
    std::mutex& lock_;
    std::unique_ptr<Stamp> stamp_;
    std::unique_ptr<CommandRuntime> runtime_;
};

}  // namespace vexa::cli
