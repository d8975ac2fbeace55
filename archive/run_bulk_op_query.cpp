// The add-in's one way of running a statement that returns no rows.

#include "addin/connect.h"

namespace vexa {

std::int32_t Connect::RunBulkOpQuery(const std::string& strSQL, const std::vector<FieldValue>& parameters) {
    return ExecuteReported(strSQL, parameters).value_or(0);
}

std::optional<std::int32_t> Connect::ExecuteReported(const std::string& strSQL,
                                                     const std::vector<FieldValue>& parameters) {
    try {
        return Deref(oConn).Execute(strSQL, parameters);
    } catch (...) {
        lastFailureTransient_ = CurrentErrorTransient();
        MsgBox("Error in \"RunBulkOpQuery\": " + CurrentErrorDescription());
        return std::nullopt;
    }
}

}  // namespace vexa
