#include "tests/support/harness.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <sqlite3.h>
#include <unistd.h>

#include "adapters/sqlite/sqlite_archive.h"

namespace vexa::testing {

Harness::Harness(Kind kind) : kind_(kind) {
    if (kind == Kind::InMemory) {
        registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", kInstalledDll);
        archive.AddFile(kArchivePath);
    } else {
        static std::atomic<int> counter{0};
        folder_ = std::filesystem::temp_directory_path() /
                  ("vexa-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "Attach");
        registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", (folder_ / "Corvane.dll").string());
        sqlite::CreateSqliteArchive((folder_ / "Corvane.mdb").string());
        diskArchive_ = std::make_unique<sqlite::SqliteArchiveEngine>();
    }
    explorer = session->OpenExplorer();
}

Harness::~Harness() {
    addin.reset();
    if (!folder_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
}

Platform Harness::MakePlatform() {
    const bool onDisk = kind_ == Kind::OnDisk;
    FileSystem& paths = onDisk ? static_cast<FileSystem&>(posixPaths) : windowsPaths;
    ArchiveEngine& engine = onDisk ? *diskArchive_ : static_cast<ArchiveEngine&>(archive);
    return Platform{*module, registry, paths, settings, engine, files, messages, dialogs, safeMailItems, shell};
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

bool Harness::Send(memory::MailSpec fields) { return session->Send(session->NewMail(std::move(fields))); }

std::shared_ptr<memory::MemoryCommandBar> Harness::Toolbar() const {
    auto active = session->ActiveExplorer();
    return active ? active->Bars()->Find(kAppTitle) : nullptr;
}

std::shared_ptr<memory::MemoryButton> Harness::Button(std::size_t index) const {
    const auto bar = Toolbar();
    if (!bar || index >= bar->Buttons().size()) throw std::logic_error("no such toolbar button");
    return bar->Buttons()[index];
}

std::vector<std::map<std::string, std::string>> Harness::Rows(const std::string& table) const {
    std::vector<std::map<std::string, std::string>> rows;
    sqlite3* db = nullptr;
    const std::string path = (folder_ / "Corvane.mdb").string();
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot read the archive " + path);
    }
    sqlite3_stmt* statement = nullptr;
    const std::string sql = "SELECT * FROM \"" + table + "\" ORDER BY Id";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::map<std::string, std::string> row;
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                const auto* text = sqlite3_column_text(statement, column);
                row[sqlite3_column_name(statement, column)] =
                    text ? reinterpret_cast<const char*>(text) : "(null)";
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

std::vector<std::string> Harness::AttachFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_ / "Attach")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Harness::AttachFile(const std::string& name) const {
    std::ifstream in(folder_ / "Attach" / name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace vexa::testing
