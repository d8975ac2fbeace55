#include "tests/support/harness.h"

namespace vexa::testing {

Harness::Harness() {
    registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", kInstalledDll);
    archive.AddFile(kArchivePath);
    explorer = session->OpenExplorer();
}

Connect& Harness::Start() {
    addin = std::make_unique<Connect>(MakePlatform());
    Reconnect();
    return *addin;
}

void Harness::Reconnect() {
    CustomArgs custom;
    addin->OnConnection(session->NewApplication(), ConnectMode::Startup, nullptr, custom);
}

void Harness::Disconnect() {
    CustomArgs custom;
    addin->OnDisconnection(DisconnectMode::HostShutdown, custom);
}

void Harness::CloseExplorer() { session->ActiveExplorer()->CloseWindow(); }

Connect& Harness::Restart() {
    // A new run loads the module anew; the mail store and the settings stay.
    addin.reset();
    module = std::make_unique<AddinModule>(factory);
    explorer = session->OpenExplorer();
    return Start();
}

bool Harness::Send(memory::MailSpec spec) { return session->Send(session->NewMail(std::move(spec))); }

std::shared_ptr<memory::MemoryCommandBar> Harness::Toolbar() const {
    auto active = session->ActiveExplorer();
    return active ? active->Bars()->Find(kAppTitle) : nullptr;
}

}  // namespace vexa::testing
