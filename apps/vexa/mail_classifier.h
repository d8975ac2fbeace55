// Tells ordinary mail from a fax for the service's gateway by the settings alone, for the relay,
// which asks for every mail it takes. The add-in it asks is kept from mail to mail: building one
// for each (the settings read, a scratch mailbox made and removed) costs more than relaying an
// ordinary mail does. The settings file is looked at for each mail, and a change to it (the
// options edited, or written by the archiving of a fax) builds the add-in again.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "apps/vexa/command_runtime.h"

namespace vexa::cli {

class MailClassifier {
public:
    // `lock` is the one every run of the add-in in this process is made under: the add-in is
    // for one thread at a time.
    explicit MailClassifier(std::mutex& lock);
    ~MailClassifier();

    // True when the send event would leave `message` alone; a message that does not parse, or a
    // question that fails, is false, so that the mail takes the whole road.
    bool IsOrdinary(const std::string& message);

private:
    struct Stamp;
    std::mutex& lock_;
    std::unique_ptr<Stamp> stamp_;
    std::unique_ptr<CommandRuntime> runtime_;
};

}  // namespace vexa::cli
