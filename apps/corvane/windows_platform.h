// What the add-in object is built from inside Outlook: the Windows adapters (registry, settings in
// the per-user program-settings key, message boxes, dialogs, the shell, files), Outlook's object
// model, the mail-item wrapper and the ADO archive.
#pragma once

#include <oaidl.h>

#include <memory>

#include "adapters/ado/ado_archive.h"
#include "adapters/outlook/com_safe_mail_items.h"
#include "adapters/outlook/outlook_host.h"
#include "adapters/paths/path_rules.h"
#include "adapters/windows/registry_settings_store.h"
#include "adapters/windows/win32_dialogs.h"
#include "adapters/windows/windows_file_store.h"
#include "adapters/windows/windows_message_box.h"
#include "adapters/windows/windows_registry.h"
#include "adapters/windows/windows_shell.h"
#include "addin/connect.h"

namespace vexa::com {

class WindowsPlatform {
public:
    // `module` is the loaded module's state, shared by every add-in object.
    explicit WindowsPlatform(AddinModule& module);
    ~WindowsPlatform();
    WindowsPlatform(const WindowsPlatform&) = delete;
    WindowsPlatform& operator=(const WindowsPlatform&) = delete;

    Platform Bundle();
    // An object that Outlook handed over, as the core sees it.
    ObjectPtr HostObject(IDispatch* object);
    // A mail item handed to a public method (by reference), as the core sees it.
    MailItemPtr MailItem(IDispatch** object);

private:
    AddinModule& module_;
    windows::WindowsRegistry registry_;
    paths::WindowsPathRules paths_;
    windows::RegistrySettingsStore settings_;
    windows::WindowsFileStore files_;
    windows::WindowsMessageBox messages_;
    windows::Win32Dialogs dialogs_;
    windows::WindowsShell shell_;
    outlook::ComSafeMailItemFactory safeMailItems_;
    ado::AdoArchiveEngine archive_;
};

}  // namespace vexa::com
