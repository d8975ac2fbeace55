// The archive database engine, reduced to what the store procedures need: a table opened for
// appending rows, one statement run with its affected-row count, and transactions. The add-in
// holds one open connection from start-up to the disconnection. SQLite is the embedded engine on
// Linux; tests also use an engine kept in memory. Every call may fail with HostError carrying the
// engine's own description.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/date_time.h"

namespace vexa {

// A column value. A date-time is stored in the engine's own date form (ISO 8601 local text on
// SQLite), so the archive sorts and queries by date.
using FieldValue = std::variant<std::monostate, std::string, std::int64_t, bool, LocalDateTime>;

// A table opened for appending. AddNew starts a row; SetField sets its columns by name; the first
// Update saves it and the engine assigns Id; later Updates save the columns set since.
class ArchiveRecordset {
public:
    virtual ~ArchiveRecordset() = default;
    virtual void AddNew() = 0;
    virtual void SetField(const std::string& column, const FieldValue& value) = 0;
    virtual void Update() = 0;
    // The Id of the row saved last; fails before the first Update.
    virtual std::int64_t Id() = 0;
};

class ArchiveConnection {
public:
    virtual ~ArchiveConnection() = default;
    // Closes the connection; later calls fail. A transaction still open is rolled back.
    virtual void Close() = 0;

    virtual std::unique_ptr<ArchiveRecordset> OpenTable(const std::string& table) = 0;
    // Runs one statement that returns no rows, with `parameters` bound to its "?" placeholders in
    // order, and returns the number of rows it changed.
    virtual std::int32_t Execute(const std::string& statement, const std::vector<FieldValue>& parameters) = 0;

    // One transaction at a time; nothing written inside it is visible to others or durable until
    // CommitTrans, and RollbackTrans discards it.
    virtual void BeginTrans() = 0;
    virtual void CommitTrans() = 0;
    virtual void RollbackTrans() = 0;

    // An archive several mailboxes share keeps the Message-ID of each received fax (column
    // message_id), so that a fax delivered to two of them is archived once; the embedded one
    // keeps none. RowOfMessage, inside the transaction that would store the mail, gives the row
    // of `table` that holds the mail `messageId` already, and until that transaction ends keeps
    // any other writer from storing the same mail meanwhile.
    virtual bool RecordsMessageIds() { return false; }
    virtual std::optional<std::int64_t> RowOfMessage(const std::string& /*table*/, const std::string& /*messageId*/) {
        return std::nullopt;
    }
};

class ArchiveEngine {
public:
    virtual ~ArchiveEngine() = default;
    // Opens the existing archive file at `path`. Never creates one: a missing or unreadable file
    // fails with HostError carrying the engine's own description.
    virtual std::unique_ptr<ArchiveConnection> Open(const std::string& path) = 0;
};

// A transaction that is rolled back unless committed: a store that fails half-way leaves nothing.
class ArchiveTransaction {
public:
    explicit ArchiveTransaction(ArchiveConnection& connection) : connection_(&connection) { connection.BeginTrans(); }
    ArchiveTransaction(const ArchiveTransaction&) = delete;
    ArchiveTransaction& operator=(const ArchiveTransaction&) = delete;
    ~ArchiveTransaction() {
        if (connection_) {
            try {
                connection_->RollbackTrans();
            } catch (...) {
            }
        }
    }
    void Commit() {
        connection_->CommitTrans();
        connection_ = nullptr;
    }

private:
    ArchiveConnection* connection_;
};

}  // namespace vexa
