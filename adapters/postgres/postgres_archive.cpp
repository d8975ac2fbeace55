#include "adapters/postgres/postgres_archive.h"

#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "adapters/postgres/postgres_session.h"
#include "adapters/postgres/read_state_layout.h"
#include "archive/sql_recordset.h"

namespace vexa::postgres {
namespace {

// The store procedures name columns as the archive's layout spells them ("FileId"); the server
// folds unquoted names to lower case, so a column matches in any letter case.
class PostgresRecordset final : public SqlRecordset {
public:
    PostgresRecordset(std::shared_ptr<Session> session, std::string table, std::vector<std::string> columns)
        : SqlRecordset(std::move(table), std::move(columns)), session_(std::move(session)) {}

private:
    std::int64_t RunInsert(const std::string& sql, const std::vector<FieldValue>& values) override {
        const PgResult result = session_->Run(sql + " RETURNING id", values, true);
        const std::int64_t id = std::stoll(result.Text(0, 0));
        session_->Inserted(Table(), id);
        return id;
    }

    std::int64_t RunUpdate(const std::string& sql, const std::vector<FieldValue>& values) override {
        return session_->Run(sql, values, true).Changed();
    }

    [[noreturn]] void Fail(Failure failure, const std::string& description) const override {
        constexpr const char* kStates[] = {kStateUndefinedColumn, kStateMisuse, kStateNoData};
        throw PgError(kStates[static_cast<int>(failure)], description);
    }

    std::shared_ptr<Session> session_;
};

class PostgresConnection final : public ArchiveConnection {
public:
    explicit PostgresConnection(std::shared_ptr<Session> session) : session_(std::move(session)) {}

    void Close() override { session_->Close(); }

    std::unique_ptr<ArchiveRecordset> OpenTable(const std::string& table) override {
        // A table's columns are read once per connection: the catalog query cost more than the
        // store's own statements.
        session_->Connection().Get();  // throws once the connection is closed
        auto known = tables_.find(table);
        if (known == tables_.end()) known = tables_.emplace(table, FindTable(table)).first;
        return std::make_unique<PostgresRecordset>(session_, known->second.first, known->second.second);
    }

    // The table's name as the server spells it, and its columns.
    std::pair<std::string, std::vector<std::string>> FindTable(const std::string& table) {
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
        return {name, std::move(columns)};
    }

    std::int32_t Execute(const std::string& statement, const std::vector<FieldValue>& parameters) override {
        return session_->Run(statement, parameters, true).Changed();
    }

    bool RecordsMessageIds() override { return true; }
    std::optional<std::int64_t> RowOfMessage(const std::string& table, const std::string& messageId) override {
        // Two mailboxes archiving the same fax at once take turns here; the second finds the
        // first's row once it is committed.
        session_->Run("SELECT pg_advisory_xact_lock(hashtext($1))", {"vexa message " + messageId}, false);
        const PgResult found =
            session_->Run("SELECT id FROM \"" + table + "\" WHERE message_id = $1 ORDER BY id LIMIT 1", {messageId}, false);
        if (found.Rows() == 0) return std::nullopt;
        return std::stoll(found.Text(0, 0));
    }

    void BeginTrans() override { session_->Begin(); }
    void CommitTrans() override { session_->Commit(); }
    void RollbackTrans() override { session_->Rollback(); }

    Session& GetSession() { return *session_; }

private:
    std::shared_ptr<Session> session_;
    std::map<std::string, std::pair<std::string, std::vector<std::string>>> tables_;
};

}  // namespace

Session& SessionOf(ArchiveConnection& connection) {
    auto* postgres = dynamic_cast<PostgresConnection*>(&connection);
    if (!postgres) throw PgError(kStateMisuse, "The connection is not one to a PostgreSQL archive.");
    return postgres->GetSession();
}

PostgresArchiveEngine::PostgresArchiveEngine(std::string uri) : uri_(std::move(uri)) {}

std::unique_ptr<ArchiveConnection> PostgresArchiveEngine::Open(const std::string&) {
    auto session = std::make_shared<Session>(uri_);
    if (!layoutChecked_) {
        EnsureReadStateLayout(session->Connection());
        layoutChecked_ = true;
    }
    std::erase_if(opened_, [](const std::weak_ptr<Session>& open) { return open.expired(); });
    opened_.push_back(session);
    return std::make_unique<PostgresConnection>(std::move(session));
}

void PostgresArchiveEngine::BeginGroup() {
    for (const auto& open : opened_) {
        if (const auto session = open.lock()) session->BeginGroup();
    }
}

void PostgresArchiveEngine::CommitGroup() {
    // Every session's group ends, even when one's commit fails; the first failure is thrown.
    std::exception_ptr failure;
    for (const auto& open : opened_) {
        const auto session = open.lock();
        if (!session) continue;
        try {
            session->CommitGroup();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

void PostgresArchiveEngine::AbortGroup() noexcept {
    for (const auto& open : opened_) {
        if (const auto session = open.lock()) session->AbortGroup();
    }
}

}  // namespace vexa::postgres
