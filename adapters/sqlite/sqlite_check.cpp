// Telling an archive of ours from any other file that happens to carry its name, before the
// installation step records a folder whose archive the add-in could not use.

#include <sqlite3.h>

#include <string>
#include <vector>

#include "adapters/sqlite/sqlite_archive.h"
#include "adapters/sqlite/sqlite_statement.h"

namespace vexa::sqlite {
namespace {

struct Table {
    const char* name;
    std::vector<const char*> columns;
};

const Table kTables[] = {
    {"recv", {"Id", "Date", "Number", "Subject", "Description", "FileName", "FileId", "New"}},
    {"send", {"Id", "Date", "Number", "Subject", "Description", "FileName", "FileId", "Confirm"}},
};

}  // namespace

void CheckSqliteArchive(const std::string& path) {
    sqlite3* raw = nullptr;
    // Read-write without create, as the add-in opens it; reading alone writes nothing to it.
    const int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    DatabaseHandle db(raw);
    if (code != SQLITE_OK) throw SqliteFileError(db.get(), code, path);
    for (const Table& table : kTables) {
        SqliteStatement columns(db.get(), "SELECT name FROM pragma_table_info(?) ");
        columns.BindAll({std::string(table.name)});
        std::vector<std::string> found;
        while (columns.Step()) found.push_back(columns.Text(0));
        if (found.empty()) throw HostError(SQLITE_ERROR, std::string("no table ") + table.name + ": " + path);
        for (const char* column : table.columns) {
            bool present = false;
            for (const std::string& name : found) present = present || sqlite3_stricmp(name.c_str(), column) == 0;
            if (!present) {
                throw HostError(SQLITE_ERROR,
                                std::string("no column ") + column + " in table " + table.name + ": " + path);
            }
        }
    }
}

}  // namespace vexa::sqlite
