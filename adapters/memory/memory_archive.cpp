#include "adapters/memory/memory_archive.h"

#include "host/ascii_text.h"

#include <algorithm>
#include <optional>

namespace vexa::memory {
namespace {

HostError EngineError(const std::string& description) {
    return HostError(static_cast<std::int32_t>(0x80004005u), description);
}

std::string Lower(const std::string& text) { return AsciiLower(std::string_view(text)); }

class MemoryRecordset final : public ArchiveRecordset {
public:
    // The table is looked up at every call: a rollback replaces the tables wholesale.
    MemoryRecordset(std::shared_ptr<MemoryArchiveEngine::State> state,
                    std::shared_ptr<MemoryArchiveEngine::Database> database, std::string table)
        : state_(std::move(state)), database_(std::move(database)), table_(std::move(table)) {}

    void AddNew() override {
        pending_.clear();
        adding_ = true;
    }

    void SetField(const std::string& column, const FieldValue& value) override {
        state_->faults.Check(HostOp::ArchiveSetField);
        const auto& columns = Table().columns;
        const auto found = std::find_if(columns.begin(), columns.end(),
                                        [&](const std::string& name) { return Lower(name) == Lower(column); });
        if (found == columns.end() || *found == "Id") {
            throw EngineError("Item cannot be found in the collection corresponding to the requested name or ordinal.");
        }
        pending_[*found] = value;
    }

    void Update() override {
        state_->faults.Check(HostOp::ArchiveUpdate);
        MemoryArchiveEngine::Table& table = Table();
        if (adding_) {
            MemoryArchiveEngine::Row row;
            for (const auto& column : table.columns) row[column] = std::monostate{};
            for (const auto& [column, value] : pending_) row[column] = value;
            id_ = ++table.lastId;
            row["Id"] = *id_;
            table.rows.push_back(std::move(row));
            adding_ = false;
        } else {
            auto row = std::find_if(table.rows.begin(), table.rows.end(), [&](const auto& r) {
                return id_ && std::get<std::int64_t>(r.at("Id")) == *id_;
            });
            if (row == table.rows.end()) throw EngineError("Either BOF or EOF is True, or the current record has been deleted.");
            for (const auto& [column, value] : pending_) (*row)[column] = value;
        }
        pending_.clear();
    }

    std::int64_t Id() override {
        if (!id_) throw EngineError("Either BOF or EOF is True, or the current record has been deleted.");
        return *id_;
    }

private:
    MemoryArchiveEngine::Table& Table() {
        auto found = database_->find(table_);
        if (found == database_->end()) throw EngineError("The table '" + table_ + "' is gone.");
        return found->second;
    }

    std::shared_ptr<MemoryArchiveEngine::State> state_;
    std::shared_ptr<MemoryArchiveEngine::Database> database_;
    std::string table_;
    MemoryArchiveEngine::Row pending_;
    bool adding_ = false;
    std::optional<std::int64_t> id_;
};

class MemoryArchiveConnection final : public ArchiveConnection {
public:
    MemoryArchiveConnection(std::shared_ptr<MemoryArchiveEngine::State> state,
                            std::shared_ptr<MemoryArchiveEngine::Database> database)
        : state_(std::move(state)), database_(std::move(database)) {
        ++state_->open;
    }
    ~MemoryArchiveConnection() override {
        // Releasing an open connection closes it, discarding an unfinished transaction.
        if (database_) Release();
    }

    void Close() override {
        ++state_->closeCalls;
        Usable();
        state_->faults.Check(HostOp::ArchiveClose);
        Release();
    }

    std::unique_ptr<ArchiveRecordset> OpenTable(const std::string& table) override {
        Usable();
        state_->faults.Check(HostOp::ArchiveOpenTable);
        auto found = database_->find(Lower(table));
        if (found == database_->end()) {
            throw EngineError("The Microsoft Jet database engine cannot find the input table or query '" + table + "'.");
        }
        return std::make_unique<MemoryRecordset>(state_, database_, found->first);
    }

    std::int32_t Execute(const std::string& statement, const std::vector<FieldValue>& parameters) override {
        Usable();
        state_->executed.push_back({statement, parameters});
        state_->faults.Check(HostOp::ArchiveExecute);
        return state_->executeResult;
    }

    void BeginTrans() override {
        Usable();
        state_->faults.Check(HostOp::ArchiveBeginTrans);
        if (snapshot_) throw EngineError("Cannot start more transactions on this session.");
        snapshot_ = *database_;
    }
    void CommitTrans() override {
        Usable();
        if (!snapshot_) throw EngineError("No transaction is active.");
        state_->faults.Check(HostOp::ArchiveCommitTrans);
        snapshot_.reset();
    }
    void RollbackTrans() override {
        Usable();
        if (!snapshot_) throw EngineError("No transaction is active.");
        *database_ = std::move(*snapshot_);
        snapshot_.reset();
    }

private:
    void Usable() const {
        if (!database_) throw HostError(3704, "Operation is not allowed when the object is closed.");
    }
    void Release() {
        if (snapshot_) *database_ = std::move(*snapshot_);
        snapshot_.reset();
        database_.reset();
        --state_->open;
    }

    std::shared_ptr<MemoryArchiveEngine::State> state_;
    std::shared_ptr<MemoryArchiveEngine::Database> database_;
    std::optional<MemoryArchiveEngine::Database> snapshot_;
};

}  // namespace

void MemoryArchiveEngine::AddFile(const std::string& path) {
    auto database = std::make_shared<Database>();
    const std::vector<std::string> common{"Id", "Date", "Number", "Subject", "Description", "FileName", "FileId"};
    (*database)["recv"].columns = common;
    (*database)["recv"].columns.push_back("New");
    (*database)["send"].columns = common;
    (*database)["send"].columns.push_back("Confirm");
    state_->files[path] = database;
}

const std::vector<MemoryArchiveEngine::Row>& MemoryArchiveEngine::Rows(const std::string& path,
                                                                       const std::string& table) const {
    return state_->files.at(path)->at(Lower(table)).rows;
}

void MemoryArchiveEngine::FailClose(bool fail) {
    if (fail) {
        state_->faults.Fail(HostOp::ArchiveClose);
    } else {
        state_->faults.Clear(HostOp::ArchiveClose);
    }
}

std::unique_ptr<ArchiveConnection> MemoryArchiveEngine::Open(const std::string& path) {
    auto found = state_->files.find(path);
    if (found == state_->files.end()) {
        // The wording of the Jet engine for a database file that is not there.
        throw EngineError("Could not find file '" + path + "'.");
    }
    state_->opened.push_back(path);
    return std::make_unique<MemoryArchiveConnection>(state_, found->second);
}

}  // namespace vexa::memory
