// The archive connection that start-up made but could not open. It takes the place of the
// earlier connection, as a newly created ADO connection does, so a later start-up that fails to
// open the archive no longer keeps the earlier archive open behind an uninitialised add-in.
// Every use of it fails as ADO's does on a connection that is not open.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/archive_engine.h"
#include "host/host_error.h"

namespace vexa {

class UnopenedArchiveConnection final : public ArchiveConnection {
public:
    void Close() override { Refuse(); }
    std::unique_ptr<ArchiveRecordset> OpenTable(const std::string& /*table*/) override { Refuse(); }
    std::int32_t Execute(const std::string& /*statement*/, const std::vector<FieldValue>& /*parameters*/) override {
        Refuse();
    }
    void BeginTrans() override { Refuse(); }
    void CommitTrans() override { Refuse(); }
    void RollbackTrans() override { Refuse(); }

private:
    // ADO's number and wording for a call on a connection that is not open.
    [[noreturn]] static void Refuse() {
        throw HostError(3704, "Operation is not allowed when the object is closed.");
    }
};

}  // namespace vexa
