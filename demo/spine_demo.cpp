// A start-up of the add-in on the in-memory host, told step by step: what the user would see
// (message boxes, the toolbar) and what the add-in leaves behind (settings, subscriptions).
// It stands in for the real command until the Maildir host exists; it needs no installation.

#include <iostream>
#include <string>

#include "adapters/memory/memory_archive.h"
#include "adapters/memory/memory_platform.h"
#include "adapters/memory/memory_session.h"
#include "adapters/memory/scripted_dialogs.h"
#include "adapters/paths/path_rules.h"
#include "addin/connect.h"

namespace {

using namespace vexa;
using namespace vexa::memory;

constexpr const char* kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll";

struct Installation {
    std::shared_ptr<MemorySession> session = MemorySession::Create();
    MemoryApplicationFactory factory{session};
    AddinModule module{factory};
    MemoryRegistry registry;
    paths::WindowsPathRules paths;
    MemorySettingsStore settings;
    MemoryArchiveEngine archive;
    RecordingMessageBox messages;
    ScriptedDialogs dialogs;
    MemorySafeMailItemFactory safeMailItems;
    RecordingShell shell;
    StdFileStore files;

    Platform MakePlatform() { return {module, registry, paths, settings, archive, files, messages, dialogs, safeMailItems, shell}; }
};

void ConnectAddin(Installation& in, vexa::Connect& addin) {
    CustomArgs custom;
    addin.OnConnection(in.session->NewApplication(), ConnectMode::Startup, nullptr, custom);
}

void ShowMessages(Installation& in) {
    for (const auto& shown : in.messages.All()) std::cout << "  message box [" << shown.title << "]: " << shown.text << "\n";
    if (in.messages.All().empty()) std::cout << "  no message box\n";
    in.messages.Clear();
}

void ShowToolbar(Installation& in) {
    const auto explorer = in.session->ActiveExplorer();
    const auto bar = explorer ? explorer->Bars()->Find(kAppTitle) : nullptr;
    if (!bar) {
        std::cout << "  no toolbar\n";
        return;
    }
    const auto place = bar->Now();
    std::cout << "  toolbar \"" << bar->Name() << "\" at position " << place.position << ", row " << place.rowIndex
              << ", top " << place.top << ", left " << place.left << (place.visible ? ", shown" : ", hidden") << "\n";
    for (const auto& button : bar->Buttons()) {
        std::cout << "    button face " << button->FaceId() << " \"" << button->Caption() << "\" tooltip \""
                  << button->TooltipText() << "\"\n";
    }
}

void ShowWrites(Installation& in) {
    for (const auto& write : in.settings.Writes()) std::cout << "  setting " << write << "\n";
}

}  // namespace

int main() {
    Installation in;
    in.registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", "C:\\Program Files\\Vexa\\Corvane.dll");
    in.archive.AddFile("C:\\Program Files\\Vexa\\Corvane.mdb");
    const auto explorer = in.session->OpenExplorer();

    std::cout << "1. The host starts and connects the add-in\n";
    vexa::Connect addin(in.MakePlatform());
    ConnectAddin(in, addin);
    ShowMessages(in);
    std::cout << "  initialised: " << (addin.Initialized() ? "yes" : "no") << ", installation folder "
              << addin.AppPath() << "\n";
    for (const auto& path : in.archive.Opened()) std::cout << "  archive opened: " << path << "\n";
    ShowToolbar(in);
    ShowWrites(in);

    std::cout << "2. The user floats the toolbar and closes the window\n";
    in.session->ActiveExplorer()->Bars()->Find(kAppTitle)->MoveTo(kMsoBarFloating, 300, 420, 1);
    explorer->CloseWindow();
    std::cout << "  subscriptions left: sends " << in.session->ItemSendSubscribers() << ", Inbox arrivals "
              << in.session->Inbox()->ItemAddSubscribers() << "\n";
    CustomArgs custom;
    addin.OnDisconnection(DisconnectMode::HostShutdown, custom);
    std::cout << "  archive connections open after the disconnection: " << in.archive.OpenConnections() << "\n";
    ShowWrites(in);

    std::cout << "3. The next run finds the toolbar where the user left it\n";
    in.session->OpenExplorer();
    vexa::Connect again(in.MakePlatform());
    ConnectAddin(in, again);
    ShowMessages(in);
    ShowToolbar(in);

    std::cout << "4. A host where the add-in was never installed\n";
    Installation bare;
    bare.session->OpenExplorer();
    vexa::Connect orphan(bare.MakePlatform());
    ConnectAddin(bare, orphan);
    ShowMessages(bare);
    std::cout << "  initialised: " << (orphan.Initialized() ? "yes" : "no") << "\n";
    return 0;
}
