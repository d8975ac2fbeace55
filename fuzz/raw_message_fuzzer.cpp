// The whole road of a message that arrives in the Inbox, from its raw bytes: the Maildir host
// reads it with GMime, the add-in tells what it is, archives a received fax (a recv row in a
// SQLite archive and its attachment in Attach) or a confirmation, and takes it out of the Inbox.
// This is what `vexa scan` does for every message. Whatever the message holds, no file may land
// anywhere but the Attach folder and the Maildir, and a stored file has a name the archive made.
//
// One installation serves every input (a real settings file, installation record and archive in a
// scratch folder that also is HOME and the XDG folders); Attach and the Maildir are emptied
// after each input, the archive keeps its rows.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <unistd.h>

#include "adapters/maildir/maildir_session.h"
#include "adapters/paths/path_rules.h"
#include "adapters/posix/record_registry.h"
#include "adapters/posix/ini_settings_store.h"
#include "adapters/posix/posix_file_store.h"
#include "adapters/sqlite/sqlite_archive.h"
#include "addin/connect.h"
#include "fuzz/fuzz_support.h"
#include "host/addin_connection.h"

namespace {

namespace fs = std::filesystem;
using vexa::fuzz::Check;

constexpr const char* kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll";

// Message boxes are the add-in's reports; the last one explains a failed property.
class QuietMessageBox final : public vexa::MessageBoxService {
public:
    void Show(const std::string& text, const std::string&) override { last = text; }
    std::string last;
};

// No user is there: a dialog is closed as it opened (Cancel), and nothing is opened.
class NoDialogs final : public vexa::DialogToolkit {
public:
    void ShowModal(vexa::DialogForm&) override {}
};
// What the store procedures reported for the input's arrival; nothing when none ran.
class LastStore final : public vexa::StoreListener {
public:
    void Stored(const vexa::StoreReport& report) noexcept override { last = report; }
    std::optional<vexa::StoreReport> last;
};
class NoShell final : public vexa::Shell {
public:
    std::int32_t Open(const std::string&) override { return vexa::kShellNoAssociation; }
};

fs::path MakeDirs(const fs::path& path) {
    fs::create_directories(path);
    return path;
}

// Sets up the scratch folder as HOME before any component reads the environment.
const fs::path& PrepareHome(const fs::path& base) {
    ::setenv("HOME", MakeDirs(base / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", MakeDirs(base / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", MakeDirs(base / "data").c_str(), 1);
    ::setenv("MAILDIR", (base / "Maildir").c_str(), 1);
    return base;
}

// The names in the working folder, where a relative path would land. libFuzzer reads its corpus
// through relative paths, so the harness cannot move into a folder of its own.
std::set<fs::path> WorkingFolder() {
    std::set<fs::path> names;
    for (const auto& entry : fs::directory_iterator(fs::current_path())) names.insert(entry.path().filename());
    return names;
}

// Every path below `root`, relative to it, except inside the folders the road may write to.
std::set<fs::path> Tree(const fs::path& root, const std::set<fs::path>& allowed) {
    std::set<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path relative = it->path().lexically_relative(root);
        if (allowed.contains(relative)) {
            it.disable_recursion_pending();
            continue;
        }
        paths.insert(relative);
    }
    return paths;
}

class Installation {
public:
    Installation()
        : home_(PrepareHome(scratch_.Path())),
          install_(MakeDirs(home_ / "install")),
          attach_(MakeDirs(install_ / "Attach")),
          maildir_(home_ / "Maildir"),
          registry_(vexa::posix::DefaultRecordPath()),
          settings_(vexa::posix::DefaultSettingsPath()) {
        vexa::sqlite::CreateSqliteArchive((install_ / "Corvane.mdb").string());
        registry_.SetDefaultValue(vexa::kHkeyLocalMachine, kAppPathsKey, (install_ / "Corvane.dll").string());
        EmptyMaildir();
        session_ = vexa::maildir::MaildirSession::Open(maildir_);
        module_ = std::make_unique<vexa::AddinModule>(session_->Factory());
        addin_ = std::make_unique<vexa::Connect>(vexa::Platform{*module_, registry_, paths_, settings_, archive_, files_,
                                                                messages_, dialogs_, session_->SafeMailItems(), shell_,
                                                                "VXHELP.html", &stores_});
        vexa::CustomArgs custom;
        addin_->OnConnection(session_->NewApplication(), vexa::ConnectMode::CommandLine, nullptr, custom);
        Check(addin_->Initialized(), "the add-in starts on the scratch installation", messages_.last);
        // Whatever is here now is all there may ever be outside Attach, the archive and the Maildir.
        before_ = Tree(home_, Allowed());
        workingFolder_ = WorkingFolder();
    }
    ~Installation() {
        vexa::CustomArgs custom;
        addin_->oExplorer_Close();
        addin_->OnDisconnection(vexa::DisconnectMode::HostShutdown, custom);
    }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    void Arrive(std::string_view bytes) {
        const fs::path file = maildir_ / "new" / "1678800000.M1P1.fuzz";
        {
            std::ofstream out(file, std::ios::binary);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        messages_.last.clear();
        stores_.last.reset();
        session_->RaiseItemAdd(file);
        const auto& arrival = stores_.last;
        if (verbose_) {
            std::fprintf(stderr, "arrival: kind %d, outcome %d; last message: %s\n",
                         arrival ? static_cast<int>(arrival->kind) : -1,
                         arrival ? static_cast<int>(arrival->outcome) : -1, messages_.last.c_str());
        }

        Check(Tree(home_, Allowed()) == before_ && WorkingFolder() == workingFolder_,
              "nothing is written outside Attach, the archive and the Maildir", messages_.last);
        std::size_t stored = 0;
        for (const auto& entry : fs::directory_iterator(attach_)) {
            ++stored;
            Check(entry.is_regular_file() && !entry.is_symlink(), "Attach holds plain files only",
                  entry.path().string());
            CheckStoredName(entry.path().filename().string());
        }
        const bool storedFax = arrival && arrival->kind == vexa::MessageKind::mkIncoming &&
                               arrival->outcome == vexa::StoreOutcome::Stored;
        Check(stored == (storedFax ? 1u : 0u), "a stored fax leaves exactly one file, anything else none",
              messages_.last);
        CheckMaildirShape();

        EmptyMaildir();
        for (const auto& entry : fs::directory_iterator(attach_)) fs::remove_all(entry.path());
    }

private:
    std::set<fs::path> Allowed() const {
        return {"Maildir", "install/Attach", "install/Corvane.mdb", "install/Corvane.mdb-journal",
                "install/Corvane.mdb-wal", "install/Corvane.mdb-shm"};
    }

    static void CheckStoredName(std::string_view name) {
        const std::size_t dot = name.find('.');
        const std::string_view digits = name.substr(1, dot == std::string_view::npos ? name.npos : dot - 1);
        Check(name.starts_with('R') && digits.size() >= 7 &&
                  digits.find_first_not_of("0123456789") == std::string_view::npos,
              "a stored fax is R and the row number", std::string(name));
        if (dot == std::string_view::npos) return;
        const std::string_view extension = name.substr(dot + 1);
        Check(std::all_of(extension.begin(), extension.end(),
                          [](char c) {
                              return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                     c == '-' || c == '_';
                          }),
              "a stored fax keeps a plain extension", std::string(name));
    }

    // Messages move only between Maildir++ folders: cur, new and tmp of the Inbox and of
    // ".Name" folders directly below it.
    void CheckMaildirShape() const {
        for (const auto& entry : fs::directory_iterator(maildir_)) {
            const std::string name = entry.path().filename().string();
            const bool box = name == "cur" || name == "new" || name == "tmp";
            // Besides the folders: the record of handled messages and the mail readers' subscriptions.
            if (!entry.is_directory() && (name == "vexa-handled" || name == "subscriptions")) continue;
            Check(entry.is_directory() && (box || name.starts_with('.')), "the Maildir holds only folders",
                  name);
            if (box) continue;
            for (const auto& inner : fs::directory_iterator(entry.path())) {
                const std::string innerName = inner.path().filename().string();
                Check(inner.is_directory() || innerName == "maildirfolder", "a Maildir++ folder holds cur, new and tmp",
                      inner.path().string());
            }
        }
    }

    void EmptyMaildir() {
        fs::remove_all(maildir_);
        for (const char* box : {"cur", "new", "tmp"}) fs::create_directories(maildir_ / box);
    }

    // VEXA_FUZZ_VERBOSE=1 shows what each input did, to see why an input fails.
    const bool verbose_ = std::getenv("VEXA_FUZZ_VERBOSE") != nullptr;
    vexa::fuzz::ScratchDir scratch_{"raw-message"};
    fs::path home_;
    fs::path install_;
    fs::path attach_;
    fs::path maildir_;
    std::set<fs::path> before_;
    std::set<fs::path> workingFolder_;
    vexa::posix::RecordRegistry registry_;
    vexa::posix::IniSettingsStore settings_;
    vexa::paths::PosixPathRules paths_;
    vexa::sqlite::SqliteArchiveEngine archive_;
    vexa::posix::PosixFileStore files_;
    QuietMessageBox messages_;
    NoDialogs dialogs_;
    NoShell shell_;
    LastStore stores_;
    std::shared_ptr<vexa::maildir::MaildirSession> session_;
    std::unique_ptr<vexa::AddinModule> module_;
    std::unique_ptr<vexa::Connect> addin_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Installation installation;
    installation.Arrive(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
