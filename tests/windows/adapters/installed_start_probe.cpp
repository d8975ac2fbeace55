// Starts the add-in's core as Outlook would, against what setup left in the real registry: the
// App Paths key read through the Windows registry adapter and the files of the installation, on
// the in-memory Outlook and archive (Wine has neither Outlook nor Jet). The setup test runs it
// after installing and compares what it prints, in UTF-8, with the folder it installed into.
//   AppPath: <the installation folder the add-in persisted>
//   archive: <the archive file the add-in opened>
//   Corvane.dll beside it: yes|no
//   initialized: yes|no
//   message: <each message box shown>
// Exit code 0 when the add-in started without a message and found its own file.

#include <iostream>
#include <memory>
#include <string>

#include "adapters/memory/memory_archive.h"
#include "adapters/memory/memory_platform.h"
#include "adapters/memory/memory_session.h"
#include "adapters/memory/scripted_dialogs.h"
#include "adapters/paths/path_rules.h"
#include "adapters/windows/windows_file_store.h"
#include "adapters/windows/windows_registry.h"
#include "addin/connect.h"

namespace {

using namespace vexa;
using namespace vexa::memory;
using namespace vexa::windows;

// An archive engine that has an archive wherever the real file is, so the start goes as far as
// a real one would with a working database engine.
class ArchiveWhereTheFileIs final : public ArchiveEngine {
public:
    explicit ArchiveWhereTheFileIs(FileStore& files) : files_(files) {}
    std::unique_ptr<ArchiveConnection> Open(const std::string& path) override {
        opened_ = path;
        if (files_.Exists(path)) memory_.AddFile(path);
        return memory_.Open(path);
    }
    const std::string& Opened() const { return opened_; }

private:
    FileStore& files_;
    MemoryArchiveEngine memory_;
    std::string opened_;
};

}  // namespace

int main() {
    std::shared_ptr<MemorySession> session = MemorySession::Create();
    MemoryApplicationFactory factory{session};
    AddinModule module{factory};
    WindowsRegistry registry;
    paths::WindowsPathRules paths;
    MemorySettingsStore settings;
    WindowsFileStore files;
    ArchiveWhereTheFileIs archive{files};
    RecordingMessageBox messages;
    ScriptedDialogs dialogs;
    MemorySafeMailItemFactory safeMailItems;
    RecordingShell shell;
    Platform platform{module, registry, paths, settings, archive, files, messages, dialogs, safeMailItems, shell};

    bool initialized = false;
    {
        Connect addin(platform);
        CustomArgs custom;
        addin.OnConnection(session->NewApplication(), ConnectMode::Startup, nullptr, custom);
        initialized = addin.Initialized();
    }
    const std::string folder = settings.Value("AppPath", "Path").value_or("");
    const bool dllFound = !folder.empty() && files.Exists(folder + "\\Corvane.dll");
    std::cout << "AppPath: " << folder << "\n"
              << "archive: " << archive.Opened() << "\n"
              << "Corvane.dll beside it: " << (dllFound ? "yes" : "no") << "\n"
              << "initialized: " << (initialized ? "yes" : "no") << "\n";
    for (const auto& shown : messages.All()) std::cout << "message: " << shown.text << "\n";
    return initialized && dllFound && messages.All().empty() ? 0 : 1;
}
