// The add-in's one way of running a statement that returns no rows.

#include "addin/connect.h"

namespace vexa {

std::int32_t Connect::RunBulkOpQuery(const std::string& strSQL, const std::vector<FieldValue>& parameters) {
    try {
        return Deref(oConn).Execute(strSQL, parameters);
    } catch (...) {
        MsgBox("Error in \"RunBulkOpQuery\": " + CurrentErrorDescription());
        return 0;
    }
}

}  // namespace vexa
