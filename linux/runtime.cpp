#include "linux/runtime.h"

#include <cstdio>

#include "adapters/maildir/maildir_files.h"
#include "adapters/posix/legacy_registry_file.h"
#include "adapters/posix/record_registry.h"
#include "archive/archive_names.h"
#include "linux/environment.h"
#include "linux/sent_fax_withdrawal.h"

namespace vexa::linuxhost {

class Runtime::NoMailbox final : public ApplicationFactory, public SafeMailItemFactory {
public:
    ApplicationPtr CreateApplication() override { throw HostError(429, "No mailbox is open."); }
    std::shared_ptr<SafeMailItem> Create(const std::string&) override { throw HostError(429, "No mailbox is open."); }
};

Runtime::Runtime(const Options& options, DialogToolkit& dialogs)
    : options_(options),
      record_(LoadInstallationRecord(posix::DefaultRecordPath(), posix::LegacyRegistryPath())),
      settings_(posix::DefaultSettingsPath()),
      dialogs_(dialogs),
      noMailbox_(std::make_unique<NoMailbox>()) {}

Runtime::~Runtime() { Shutdown(); }

Platform Runtime::MakePlatform() {
    ApplicationFactory& factory = session_ ? session_->Factory() : static_cast<ApplicationFactory&>(*noMailbox_);
    if (!module_) module_ = std::make_unique<AddinModule>(factory);
    SafeMailItemFactory& wrappers =
        session_ ? session_->SafeMailItems() : static_cast<SafeMailItemFactory&>(*noMailbox_);
    return Platform{*module_,  *record_.registry, paths_,   settings_, archive_, archive_,
                    messages_, dialogs_,  wrappers, shell_,    kHelpFileName, &stores_};
}

vexa::Connect& Runtime::UnconnectedAddin() {
    if (!addin_) addin_ = std::make_unique<vexa::Connect>(MakePlatform());
    return *addin_;
}

bool Runtime::OpenMailbox() {
    if (session_) return true;
    try {
        const auto mailbox = MaildirPath(options_.maildir);
        if (options_.mailboxOptional && !maildir::IsMaildir(mailbox)) {
            scratch_ = std::make_unique<ScratchMaildir>();
            session_ = maildir::MaildirSession::Open(scratch_->Path());
        } else {
            session_ = maildir::MaildirSession::Open(mailbox);
        }
        return true;
    } catch (...) {
        // Without a mailbox there is nothing to connect to: the same failure as the host's.
        messages_.Show("Can't init : " + CurrentErrorDescription(), kAppTitle);
        return false;
    }
}

bool Runtime::Connect(ApplicationPtr application) {
    if (!OpenMailbox()) return false;
    addin_ = std::make_unique<vexa::Connect>(MakePlatform());
    CustomArgs custom;
    addin_->OnConnection(application ? application : session_->NewApplication(), ConnectMode::CommandLine, nullptr,
                         custom);
    connected_ = true;
    if (addin_->Initialized()) return true;
    if (record_.readable && addin_->AppPath().empty()) {
        std::fprintf(stderr, "Vexa is not installed (no installation is recorded in %s): 'vexa init' creates it.\n",
                     posix::DefaultRecordPath().c_str());
    }
    return false;
}

void Runtime::WithdrawSentFax(std::int64_t id) {
    linuxhost::WithdrawSentFax(archive_, archive_, addin_ ? addin_->AppPath() : std::string(), id);
}

bool Runtime::LockForArchiving() {
    try {
        locks_.push_back(std::make_unique<ProcessLock>(MaildirPath(options_.maildir).string()));
        locks_.push_back(std::make_unique<ProcessLock>(addin_->AppPath()));
        return true;
    } catch (LockHeld& held) {
        if (mailboxName_ && locks_.empty()) held.folder = *mailboxName_;  // "The IMAP account imaps://..."
        messages_.Show(held.Message(), kAppTitle);
    } catch (...) {
        messages_.Show(CurrentErrorDescription(), kAppTitle);
    }
    locks_.clear();
    return false;
}

void Runtime::Shutdown() {
    if (!connected_) return;
    connected_ = false;
    addin_->oExplorer_Close();
    CustomArgs custom;
    addin_->OnDisconnection(DisconnectMode::HostShutdown, custom);
}

std::optional<std::filesystem::path> Runtime::AttachFolder() const {
    if (!addin_ || addin_->AppPath().empty()) return std::nullopt;
    return std::filesystem::path(addin_->AppPath()) / kAttachFolder;
}

}  // namespace vexa::linuxhost
