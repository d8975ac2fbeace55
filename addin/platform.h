// What the add-in object is built from: the module-wide state and the platform components it
// calls. The COM add-in, the Linux command and each test hand it their own; it owns none of them.
#pragma once

#include "addin/file_system.h"
#include "addin/registry.h"
#include "archive/archive_engine.h"
#include "archive/file_store.h"
#include "archive/store_listener.h"
#include "dialogs/dialog_form.h"
#include "dialogs/message_box.h"
#include "host/application.h"
#include "handlers/shell.h"
#include "recognition/safe_mail_item.h"
#include "settings/settings_store.h"

namespace vexa {

// State that lives as long as the loaded module, shared by every add-in object it creates.
class AddinModule {
public:
    explicit AddinModule(ApplicationFactory& factory) : factory_(factory) {}
    AddinModule(const AddinModule&) = delete;
    AddinModule& operator=(const AddinModule&) = delete;

    // The application object that the module creates by class the first time it is needed and
    // never releases; a creation that fails is tried again at the next need.
    ApplicationPtr OutlookApp() {
        if (!gOutlookApp) gOutlookApp = factory_.CreateApplication();
        return gOutlookApp;
    }
    bool HoldsApplication() const noexcept { return static_cast<bool>(gOutlookApp); }

private:
    ApplicationFactory& factory_;
    ApplicationPtr gOutlookApp;
};

struct Platform {
    AddinModule& module;
    Registry& registry;
    FileSystem& fileSystem;
    SettingsStore& settings;
    ArchiveEngine& archive;
    FileStore& files;
    MessageBoxService& messageBox;
    DialogToolkit& dialogs;
    SafeMailItemFactory& safeMailItems;
    Shell& shell;
    // The help program (or document) in the installation folder that the Help command opens.
    const char* helpFile = "VXHELP.exe";
    // Hears what each store procedure did, for a host that reports it on its own; null for
    // Outlook, which needs no more than the handlers show.
    StoreListener* storeListener = nullptr;
};

}  // namespace vexa
