#include "adapters/postgres/postgres_archive.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>
#include <vector>

#include "adapters/postgres/postgres_session.h"

namespace vexa::postgres {
namespace {

bool SameName(const std::string& a, const std::string& b) {
    return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

std::string QuoteIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// The store procedures name columns as the archive's layout spells them ("FileId"); the server
// folds unquoted names to lower case, so a column matches in any letter case.
class PostgresRecordset final : public ArchiveRecordset {
public:
    PostgresRecordset(std::shared_ptr<Session> session, std::string table, std::vector<std::string> columns)
        : session_(std::move(session)), table_(std::move(table)), columns_(std::move(columns)) {}

    void AddNew() override {
        pending_.clear();
        adding_ = true;
    }

    void SetField(const std::string& column, const FieldValue& value) override {
        const auto known = std::ranges::find_if(columns_, [&](const std::string& name) { return SameName(name, column); });
        if (known == columns_.end()) throw PgError(kStateUndefinedColumn, "no such column: " + column);
        const auto set = std::ranges::find_if(pending_, [&](const auto& field) { return field.first == *known; });
        if (set != pending_.end()) {
            set->second = value;
        } else {
            pending_.emplace_back(*known, value);
        }
    }

    void Update() override {
        if (adding_) {
            Insert();
        } else if (savedId_) {
            UpdateSaved();
        } else {
            throw PgError(kStateMisuse, "There is no row to update in " + table_ + "; call AddNew first.");
        }
    }

    std::int64_t Id() override {
        if (!savedId_) throw PgError(kStateMisuse, "No row of " + table_ + " has been saved yet.");
        return *savedId_;
    }

private:
    // On failure nothing changes here, so the caller may correct a value and call Update again.
    void Insert() {
        std::string sql = "INSERT INTO " + QuoteIdentifier(table_);
        std::vector<FieldValue> values;
        if (pending_.empty()) {
            sql += " DEFAULT VALUES";
        } else {
            std::string names;
            std::string placeholders;
            for (const auto& [column, value] : pending_) {
                if (!names.empty()) {
                    names += ',';
                    placeholders += ',';
                }
                names += QuoteIdentifier(column);
                values.push_back(value);
                placeholders += '$' + std::to_string(values.size());
            }
            sql += " (" + names + ") VALUES (" + placeholders + ")";
        }
        const PgResult result = session_->Run(sql + " RETURNING id", values, false);
        savedId_ = std::stoll(result.Text(0, 0));
        session_->Inserted(table_, *savedId_);
        adding_ = false;
        pending_.clear();
    }

    void UpdateSaved() {
        if (pending_.empty()) return;
        std::string assignments;
        std::vector<FieldValue> values;
        for (const auto& [column, value] : pending_) {
            if (!assignments.empty()) assignments += ',';
            values.push_back(value);
            assignments += QuoteIdentifier(column) + "=$" + std::to_string(values.size());
        }
        values.emplace_back(*savedId_);
        const std::string sql = "UPDATE " + QuoteIdentifier(table_) + " SET " + assignments + " WHERE id=$" +
                                std::to_string(values.size());
        // Someone else deleted the row since it was saved; the new values would silently vanish.
        if (session_->Run(sql, values, false).Changed() == 0) {
            throw PgError(kStateNoData, "Row " + std::to_string(*savedId_) + " of " + table_ + " no longer exists.");
        }
        pending_.clear();
    }

    std::shared_ptr<Session> session_;
    std::string table_;
    std::vector<std::string> columns_;
    std::vector<std::pair<std::string, FieldValue>> pending_;
    bool adding_ = false;
    std::optional<std::int64_t> savedId_;
};

class PostgresConnection final : public ArchiveConnection {
public:
    explicit PostgresConnection(std::shared_ptr<Session> session) : session_(std::move(session)) {}

    void Close() override { session_->Close(); }

    std::unique_ptr<ArchiveRecordset> OpenTable(const std::string& table) override {
        // Tables only, in the schema the connection works in; a view cannot take rows.
        const PgResult found = session_->Run(
            "SELECT c.table_name, c.column_name FROM information_schema.columns c "
            "JOIN information_schema.tables t ON t.table_schema = c.table_schema AND t.table_name = c.table_name "
            "WHERE t.table_type = 'BASE TABLE' AND c.table_schema = current_schema() "
            "AND lower(c.table_name) = lower($1) ORDER BY c.table_name, c.ordinal_position",
            {table}, false, true);
        if (found.Rows() == 0) throw PgError(kStateUndefinedTable, "no such table: " + table);
        const std::string name = found.Text(0, 0);
        std::vector<std::string> columns;
        for (int row = 0; row < found.Rows() && found.Text(row, 0) == name; ++row) columns.push_back(found.Text(row, 1));
        return std::make_unique<PostgresRecordset>(session_, name, std::move(columns));
    }

    std::int32_t Execute(const std::string& statement, const std::vector<FieldValue>& parameters) override {
        return session_->Run(statement, parameters, true).Changed();
    }

    void BeginTrans() override { session_->Begin(); }
    void CommitTrans() override { session_->Commit(); }
    void RollbackTrans() override { session_->Rollback(); }

    Session& GetSession() { return *session_; }

private:
    std::shared_ptr<Session> session_;
};

}  // namespace

Session& SessionOf(ArchiveConnection& connection) {
    auto* postgres = dynamic_cast<PostgresConnection*>(&connection);
    if (!postgres) throw PgError(kStateMisuse, "The connection is not one to a PostgreSQL archive.");
    return postgres->GetSession();
}

PostgresArchiveEngine::PostgresArchiveEngine(std::string uri) : uri_(std::move(uri)) {}

std::unique_ptr<ArchiveConnection> PostgresArchiveEngine::Open(const std::string&) {
    return std::make_unique<PostgresConnection>(std::make_shared<Session>(uri_));
}

}  // namespace vexa::postgres
