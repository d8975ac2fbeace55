// One run of the add-in on the Linux host: the Maildir mailbox, the platform components (settings
// file, installation record, SQLite archive, console message boxes, xdg-open), the dialogs its front
// end draws, and the add-in object connected to them. Every mail subcommand builds one, connects,
// works, shuts down.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>
#include <optional>
#include <string>
#include <utility>

#include "adapters/maildir/maildir_session.h"
#include "adapters/paths/path_rules.h"
#include "adapters/posix/ini_settings_store.h"
#include "adapters/posix/posix_file_store.h"
#include "adapters/sqlite/sqlite_archive.h"
#include "addin/connect.h"
#include "dialogs/dialog_form.h"
#include "linux/console_message_box.h"
#include "linux/installation_archive.h"
#include "linux/installation_record.h"
#include "linux/linux_shell.h"
#include "linux/process_lock.h"
#include "linux/scratch_maildir.h"
#include "linux/store_reports.h"

namespace vexa::linuxhost {

class Runtime {
public:
    struct Options {
        std::optional<std::string> maildir;
        // For the commands that never touch the mailbox (send, convert, open, manual): without
        // a Maildir they run over an empty one of their own instead of failing.
        bool mailboxOptional = false;
    };

    // `dialogs` draws the add-in's dialogs; it outlives the runtime.
    Runtime(const Options& options, DialogToolkit& dialogs);
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    // Opens the mailbox and connects the add-in as the host would at start-up; false (after the
    // "Can't init : " line, and a line saying how to install when nothing is installed) when
    // start-up failed. `application` replaces the session's own application object (the convert
    // command hands in one with a selection).
    bool Connect(ApplicationPtr application = nullptr);
    // After Connect failed: it may succeed later (the archive's server was out of reach).
    bool StartFailureMayPass() const { return addin_ && addin_->StartFailureMayPass(); }
    // Opens the mailbox without connecting; false (after the "Can't init : " line) when it cannot.
    bool OpenMailbox();
    // Shuts down as the explorer's close and the disconnection do.
    void Shutdown();
    // For the commands that archive what is in the Inbox: the mailbox and the installation are
    // this process's alone until it ends. False (after saying who holds them) when another
    // process does.
    bool LockForArchiving();
    // What the user knows the mailbox as, for the messages that would otherwise name its Maildir
    // (an IMAP account, whose Maildir is its private mirror).
    void NameMailbox(std::string name) { mailboxName_ = std::move(name); }

    // True once any message was shown.
    bool Reported() const { return messages_.Shown() != 0; }

    vexa::Connect& Addin() { return *addin_; }
    // The add-in object without a connection, for the commands that need only the settings.
    vexa::Connect& UnconnectedAddin();
    maildir::MaildirSession& Session() { return *session_; }
    ConsoleMessageBox& Messages() { return messages_; }
    // What the add-in's store procedures reported, for the command that raised the event.
    StoreReports& Stores() { return stores_; }
    const LinuxShell& Shell() const { return shell_; }
    // The archive engine and the attachment files, for a command that commits in groups.
    InstallationArchive& Archive() { return archive_; }
    posix::PosixFileStore& Files() { return archive_.LocalFiles(); }
    // True once after a store failed because the archive's server could not be reached.
    bool TakeArchiveLost() noexcept { return archive_.TakeServerLost(); }
    // The folder of the stored attachment files of the connected installation; unset before.
    std::optional<std::filesystem::path> AttachFolder() const;
    Platform MakePlatform();

    // Takes the outgoing fax of row `id` back out of the archive (its row and its document), for
    // a send whose mail never left. Throws HostError when the archive refuses.
    void WithdrawSentFax(std::int64_t id);

private:
    Options options_;
    std::unique_ptr<ScratchMaildir> scratch_;  // before session_, which lives inside it
    std::shared_ptr<maildir::MaildirSession> session_;
    std::unique_ptr<AddinModule> module_;
    InstallationRecord record_;
    paths::PosixPathRules paths_;
    posix::IniSettingsStore settings_;
    InstallationArchive archive_;  // the archive engine and the file store both
    ConsoleMessageBox messages_;
    StoreReports stores_;
    DialogToolkit& dialogs_;
    LinuxShell shell_;
    std::unique_ptr<vexa::Connect> addin_;
    bool connected_ = false;
    std::vector<std::unique_ptr<ProcessLock>> locks_;
    std::optional<std::string> mailboxName_;
    // Stand-ins while no mailbox is open: they fail as a missing component would.
    class NoMailbox;
    std::unique_ptr<NoMailbox> noMailbox_;
};

}  // namespace vexa::linuxhost
