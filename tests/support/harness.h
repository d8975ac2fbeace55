// A complete add-in installation on the memory host, for tests: a running session with an
// explorer window, the registry entry of an installed add-in, an archive file, a settings store,
// recorded message boxes and the add-in object connected to it all.
#pragma once

#include <memory>
#include <string>

#include "adapters/memory/memory_archive.h"
#include "adapters/memory/memory_platform.h"
#include "adapters/memory/memory_session.h"
#include "adapters/memory/scripted_dialogs.h"
#include "adapters/paths/path_rules.h"
#include "addin/connect.h"

namespace vexa::testing {

inline constexpr const char* kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll";
inline constexpr const char* kInstalledDll = "C:\\Program Files\\Tool\\Corvane.dll";
inline constexpr const char* kInstallFolder = "C:\\Program Files\\Tool";
inline constexpr const char* kArchivePath = "C:\\Program Files\\Tool\\Corvane.mdb";

class Harness {
public:
    // Installs the add-in (registry entry and archive file) and opens an explorer window.
    Harness();

    // A fresh add-in object connected to the session with a new application object.
    Connect& Start();
    // Connects the current add-in object again (a second connection of the same object).
    void Reconnect();
    void Disconnect();
    // The user closes the explorer window that is active now.
    void CloseExplorer();
    // A new run of the host: a new explorer window and a new add-in object, same store and settings.
    Connect& Restart();

    // Sends a message and reports whether the send went ahead.
    bool Send(memory::MailSpec spec = {});
    std::vector<std::string> Messages() const { return messages.Texts(); }
    // The add-in's toolbar in the active explorer, or null.
    std::shared_ptr<memory::MemoryCommandBar> Toolbar() const;

    std::shared_ptr<memory::MemorySession> session = memory::MemorySession::Create();
    memory::MemoryApplicationFactory factory{session};
    std::unique_ptr<AddinModule> module = std::make_unique<AddinModule>(factory);
    memory::MemoryRegistry registry;
    WindowsPathRules paths;
    memory::MemorySettingsStore settings;
    memory::MemoryArchiveEngine archive;
    memory::RecordingMessageBox messages;
    memory::ScriptedDialogs dialogs;
    memory::MemorySafeMailItemFactory safeMailItems;
    std::shared_ptr<memory::MemoryExplorer> explorer;
    std::unique_ptr<Connect> addin;

    Platform MakePlatform() {
        return Platform{*module, registry, paths, settings, archive, messages, dialogs, safeMailItems};
    }
};

}  // namespace vexa::testing
