// The host's run of the add-in as a command makes it: the add-in's dialogs drawn on the terminal,
// the description prompts answered in advance when the command line says so, and the exit status
// the messages shown make.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "apps/vexa/cli.h"
#include "apps/vexa/terminal_dialogs.h"
#include "linux/runtime.h"

namespace vexa::cli {

// Holds the dialogs before the runtime that draws with them is built, and after it is gone.
struct TerminalDialogsHolder {
    TerminalDialogs dialogs;
};

class CommandRuntime : private TerminalDialogsHolder, public linuxhost::Runtime {
public:
    struct Options {
        std::optional<std::string> maildir;
        std::optional<std::string> description;
        // For the commands that never touch the mailbox (send, convert, open, manual).
        bool mailboxOptional = false;
    };

    explicit CommandRuntime(const Options& options)
        : TerminalDialogsHolder{TerminalDialogs(options.description)},
          linuxhost::Runtime({options.maildir, options.mailboxOptional}, dialogs) {}

    // Answers the description prompts of this run with `text`, as --description does.
    void AnswerDescription(std::string text) { dialogs = TerminalDialogs(std::move(text)); }
    // For scan and watch: connects, and takes the mailbox and the installation for this process;
    // the exit status when it cannot (after saying why): 75 when the archive's server is out of
    // reach, so that a later run (the service's restart) archives what waits.
    std::optional<int> StartArchiving() {
        if (!Connect()) return StartFailureMayPass() ? kExitTempFail : kExitConfig;
        if (!LockForArchiving()) return kExitTempFail;
        return std::nullopt;
    }
    // 0 when nothing was reported, 1 when any message was shown.
    int ExitStatus() const { return Reported() ? kExitReported : kExitOk; }
};

}  // namespace vexa::cli
