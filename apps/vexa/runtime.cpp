#include "apps/vexa/runtime.h"

#include "apps/vexa/cli.h"
#include "apps/vexa/environment.h"

namespace vexa::cli {

class Runtime::NoMailbox final : public ApplicationFactory, public SafeMailItemFactory {
public:
    ApplicationPtr CreateApplication() override { throw HostError(429, "No mailbox is open."); }
    std::shared_ptr<SafeMailItem> Create(const std::string&) override { throw HostError(429, "No mailbox is open."); }
};

Runtime::Runtime(const Options& options)
    : options_(options),
      registry_(DefaultRegistryPath()),
      settings_(DefaultSettingsPath()),
      dialogs_(options.description),
      noMailbox_(std::make_unique<NoMailbox>()) {}

Runtime::~Runtime() { Shutdown(); }

Platform Runtime::MakePlatform() {
    ApplicationFactory& factory = session_ ? session_->Factory() : static_cast<ApplicationFactory&>(*noMailbox_);
    if (!module_) module_ = std::make_unique<AddinModule>(factory);
    SafeMailItemFactory& wrappers =
        session_ ? session_->SafeMailItems() : static_cast<SafeMailItemFactory&>(*noMailbox_);
    return Platform{*module_,  registry_, paths_,   settings_, archive_, files_,
                    messages_, dialogs_,  wrappers, shell_,    kHelpFileName};
}

vexa::Connect& Runtime::UnconnectedAddin() {
    if (!addin_) addin_ = std::make_unique<vexa::Connect>(MakePlatform());
    return *addin_;
}

bool Runtime::OpenMailbox() {
    if (session_) return true;
    try {
        session_ = maildir::MaildirSession::Open(MaildirPath(options_.maildir));
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
    return addin_->Initialized();
}

bool Runtime::LockForArchiving() {
    try {
        locks_.push_back(std::make_unique<ProcessLock>(MaildirPath(options_.maildir).string()));
        locks_.push_back(std::make_unique<ProcessLock>(addin_->AppPath()));
        return true;
    } catch (const LockHeld& held) {
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

}  // namespace vexa::cli
