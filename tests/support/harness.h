// A complete add-in installation on the memory host, for tests: a running session with an
// explorer window, the registry entry of an installed add-in, an archive, a settings store,
// recorded message boxes and dialogs, and the add-in object connected to it all.
//
// Two kinds: InMemory keeps the archive in memory under a Windows installation path (for start-up
// and command tests); OnDisk installs into a fresh temporary folder with a real SQLite archive and
// an Attach folder, so stored rows and files can be read back as a user would.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

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
    enum class Kind { InMemory, OnDisk };

    // Installs the add-in (registry entry and archive) and opens an explorer window.
    explicit Harness(Kind kind = Kind::InMemory);
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

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
    bool Send(memory::MailSpec fields = {});
    std::vector<std::string> Messages() const { return messages.Texts(); }
    // The add-in's toolbar in the active explorer, or null.
    std::shared_ptr<memory::MemoryCommandBar> Toolbar() const;
    // The toolbar's buttons in order: indicator, convert, options, help.
    std::shared_ptr<memory::MemoryButton> Button(std::size_t index) const;

    // OnDisk only: the installation folder, the rows of a table as text, and the stored files.
    const std::filesystem::path& Folder() const { return folder_; }
    std::vector<std::map<std::string, std::string>> Rows(const std::string& table) const;
    // Names of the files in Attach, sorted.
    std::vector<std::string> AttachFiles() const;
    std::string AttachFile(const std::string& name) const;

    std::shared_ptr<memory::MemorySession> session = memory::MemorySession::Create();
    memory::MemoryApplicationFactory factory{session};
    std::unique_ptr<AddinModule> module = std::make_unique<AddinModule>(factory);
    memory::MemoryRegistry registry;
    paths::WindowsPathRules windowsPaths;
    paths::PosixPathRules posixPaths;
    memory::MemorySettingsStore settings;
    memory::MemoryArchiveEngine archive;
    memory::RecordingMessageBox messages;
    memory::ScriptedDialogs dialogs;
    memory::MemorySafeMailItemFactory safeMailItems;
    memory::RecordingShell shell;
    memory::StdFileStore files;
    std::shared_ptr<memory::MemoryExplorer> explorer;
    std::unique_ptr<Connect> addin;

    Platform MakePlatform();

private:
    Kind kind_;
    std::filesystem::path folder_;
    std::unique_ptr<ArchiveEngine> diskArchive_;
};

}  // namespace vexa::testing
