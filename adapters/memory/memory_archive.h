// An archive engine kept in memory, for tests: archive "files" are paths added with AddFile, each
// holding the two tables, rows are kept as column maps, and transactions snapshot the tables.
// Statements given to Execute are recorded, not interpreted: tests that need SQL run against the
// SQLite engine on a real file.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adapters/memory/memory_faults.h"
#include "archive/archive_engine.h"

namespace vexa::memory {

class MemoryArchiveEngine final : public ArchiveEngine {
public:
    using Row = std::map<std::string, FieldValue>;
    struct Statement {
        std::string text;
        std::vector<FieldValue> parameters;
    };

    std::unique_ptr<ArchiveConnection> Open(const std::string& path) override;

    // Creates an empty archive at `path` with the tables recv and send.
    void AddFile(const std::string& path);
    // The committed rows of a table of the archive at `path`, in the order they were added.
    const std::vector<Row>& Rows(const std::string& path, const std::string& table) const;

    FaultPlan& Faults() { return state_->faults; }
    void FailClose(bool fail);
    // What Execute returns from now on.
    void SetExecuteResult(std::int32_t affected) { state_->executeResult = affected; }
    const std::vector<Statement>& Executed() const { return state_->executed; }

    const std::vector<std::string>& Opened() const { return state_->opened; }
    int OpenConnections() const { return state_->open; }
    int CloseCalls() const { return state_->closeCalls; }

    struct Table {
        std::vector<std::string> columns;
        std::vector<Row> rows;
        std::int64_t lastId = 0;
    };
    using Database = std::map<std::string, Table>;
    struct State {
        std::map<std::string, std::shared_ptr<Database>> files;
        std::vector<std::string> opened;
        std::vector<Statement> executed;
        std::int32_t executeResult = 0;
        int open = 0;
        int closeCalls = 0;
        FaultPlan faults;
    };

private:
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace vexa::memory
