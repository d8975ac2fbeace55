// Start-up of the add-in object: the installation folder from the registry, the host objects whose
// events the add-in handles, the archive connection, and (phase 2) the explorer and its toolbar.

#include "addin/connect.h"
#include "addin/unopened_archive_connection.h"
#include "archive/archive_names.h"
#include "host/mail_item.h"
#include "settings/setting_names.h"

namespace vexa {
namespace {

// The installer records the add-in's file under this key; its folder is the installation folder.
constexpr const char* kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll";

}  // namespace

Connect::Connect(const Platform& platform) : platform_(platform) {}

Connect::~Connect() = default;

void Connect::OnConnection(const ObjectPtr& application, ConnectMode connectMode, const ObjectPtr& addInInst,
                           CustomArgs& custom) {
    AddinInstance_OnConnection(application, connectMode, addInInst, custom);
}

void Connect::AddinInstance_OnConnection(const ObjectPtr& Application, ConnectMode /*connectMode*/,
                                         const ObjectPtr& /*addInInst*/, CustomArgs& /*custom*/) {
    // A failure before the archive is open leaves the add-in uninitialised, with whatever it had
    // bound so far still bound: its handlers then refuse to work.
    startFailureMayPass_ = false;
    try {
        ConnectPhase1(Application);
    } catch (...) {
        startFailureMayPass_ = CurrentErrorTransient();
        MsgBox("Can't init : " + CurrentErrorDescription());
        return;
    }
    // Without an explorer or a complete toolbar the add-in still archives mail.
    try {
        ConnectPhase2();
    } catch (...) {
    }
    bInitialized = true;
}

void Connect::ConnectPhase1(const ObjectPtr& Application) {
    bInitialized = false;
    sAppPath = LookUpInstallFolder();
    if (sAppPath.empty()) throw error::ApplicationDefined();
    platform_.settings.SaveSetting(settings::kAppName, settings::kAppPath, settings::kPath, sAppPath);
    oApp = As<vexa::Application>(Application);
    oNameSpace = oApp->GetNamespace("MAPI");
    // The Inbox is taken through the module's application object: the one Outlook handed to the
    // module's first connection, kept for the module's life, so that Outlook trusts what is reached.
    const ApplicationPtr outlookApp = platform_.module.OutlookApp();
    const MAPIFolderPtr inbox = Deref(Deref(outlookApp).Session()).GetDefaultFolder(kOlFolderInbox);
    oInboxItems = Deref(inbox).Items();
    // A new connection takes the earlier one's place before it opens: the earlier one is let go
    // (released, which closes it) and, when this one fails to open, the add-in holds it unopened.
    oConn = std::make_unique<UnopenedArchiveConnection>();
    oConn = platform_.archive.Open(platform_.fileSystem.BuildPath(sAppPath, kArchiveFileName));
    RecoverPendingFiles();
}

void Connect::ConnectPhase2() {
    oExplorer = oApp->ActiveExplorer();
    oCBars = oExplorer->CommandBars();
    BuildToolbar();
}

std::string Connect::LookUpInstallFolder() {
    std::string path;
    RegKey key = 0;
    // The results of the query and the close are not examined: an unreadable value simply leaves
    // the path empty, which the caller reports.
    if (OpenRegKey(kHkeyLocalMachine, kAppPathsKey, key)) {
        QueryRegString(key, nullptr, path);
        CloseRegKey(key);
    }
    return platform_.fileSystem.GetParentFolderName(path);
}

bool Connect::OpenRegKey(RegKey hKey, const std::string& lpSubKey, RegKey& phkResult) {
    return platform_.registry.RegOpenKeyA(hKey, lpSubKey.c_str(), phkResult) == kRegSuccess;
}

bool Connect::QueryRegString(RegKey hKey, const std::string* strValueName, std::string& strValue) {
    const char* valueName = strValueName ? strValueName->c_str() : nullptr;
    // First call: only the type and the size in bytes.
    std::uint32_t type = kRegNone;
    std::uint32_t size = 0;
    if (platform_.registry.RegQueryValueExA(hKey, valueName, nullptr, type, nullptr, size) != kRegSuccess ||
        type != kRegSz) {
        return false;
    }
    // Second call: the text into a buffer of that size. Only plain strings are accepted; an
    // expandable string would need expanding, which the lookup does not do.
    std::string buffer(size, ' ');
    std::uint32_t secondType = kRegNone;
    if (platform_.registry.RegQueryValueExA(hKey, valueName, nullptr, secondType,
                                            reinterpret_cast<unsigned char*>(buffer.data()), size) != kRegSuccess) {
        return false;
    }
    strValue = StringFromBuffer(buffer);
    return true;
}

bool Connect::CloseRegKey(RegKey hKey) { return platform_.registry.RegCloseKey(hKey) == kRegSuccess; }

std::string Connect::StringFromBuffer(const std::string& Buffer) const {
    return Buffer.substr(0, Buffer.find('\0'));
}

void Connect::MsgBox(const std::string& text) { platform_.messageBox.Show(text, kAppTitle); }

}  // namespace vexa
