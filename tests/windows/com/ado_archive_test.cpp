// The ADO engine drives ADO as the archive has always been used: the provider, Open with four
// arguments, the recordset opened on the table (keyset, optimistic, table-direct), fields set by
// name, Update, the Id read back, and statements run as commands with bound parameters.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "apps/corvane/ado_archive.h"
#include "apps/corvane/dispatch_object.h"

namespace vexa::com {
namespace {

using Log = std::vector<std::string>;

std::string Describe(const VARIANT& value) {
    switch (value.vt) {
        case VT_BSTR: return "'" + ToUtf8(value.bstrVal) + "'";
        case VT_I4: return std::to_string(value.lVal);
        case VT_I2: return std::to_string(value.iVal);
        case VT_BOOL: return value.boolVal ? "True" : "False";
        case VT_DISPATCH: return "<object>";
        case VT_DATE: return "<date>";
        case VT_NULL: return "Null";
        default: return "<" + std::to_string(value.vt) + ">";
    }
}

// An ADO object that logs every call and put, and answers from a table of results.
class Recorder final : public DispatchObject {
public:
    Recorder(std::string name, std::vector<const wchar_t*> members, std::shared_ptr<Log> log,
             std::map<std::wstring, std::function<Variant()>> results = {})
        : name_(std::move(name)), members_(std::move(members)), log_(std::move(log)), results_(std::move(results)) {}

protected:
    const std::vector<const wchar_t*>& Members() const override { return members_; }
    Variant Answer(DISPID id, WORD flags, const std::vector<const VARIANT*>& arguments) override {
        const std::wstring member = members_[static_cast<std::size_t>(id - 1)];
        std::string entry = name_ + "." + WideToUtf8(member);
        if (flags & DISPATCH_PROPERTYPUT) {
            entry += "=" + Describe(*arguments.back());
        } else if (!arguments.empty()) {
            entry += "(";
            for (std::size_t i = 0; i < arguments.size(); ++i) entry += (i ? "," : "") + Describe(*arguments[i]);
            entry += ")";
        }
        if (member == L"Execute" && !arguments.empty()) {
            // RecordsAffected comes by reference; the object sees the caller's own variant.
            VARIANT* affected = const_cast<VARIANT*>(arguments[0]);
            ::VariantClear(affected);
            affected->vt = VT_I4;
            affected->lVal = 1;  // one row changed
        }
        log_->push_back(entry);
        auto found = results_.find(member);
        return found == results_.end() ? Variant() : found->second();
    }

private:
    std::string name_;
    std::vector<const wchar_t*> members_;
    std::shared_ptr<Log> log_;
    std::map<std::wstring, std::function<Variant()>> results_;
};

ComPtr<IDispatch> Make(std::string name, std::vector<const wchar_t*> members, std::shared_ptr<Log> log,
                       std::map<std::wstring, std::function<Variant()>> results = {}) {
    return ComPtr<IDispatch>::Adopt(
        DispatchObject::Create<Recorder>(std::move(name), std::move(members), std::move(log), std::move(results)));
}

struct FakeAdo {
    std::shared_ptr<Log> log = std::make_shared<Log>();
    std::vector<std::wstring> registeredProviders{L"Microsoft.Jet.OLEDB.4.0"};

    AdoArchiveEngine Engine() {
        return AdoArchiveEngine(
            [this](const std::wstring& progId) -> ComPtr<IDispatch> {
                if (progId == L"ADODB.Connection") {
                    return Make("Connection", {L"Provider", L"Open", L"Close", L"BeginTrans", L"CommitTrans",
                                               L"RollbackTrans"},
                                log);
                }
                if (progId == L"ADODB.Recordset") {
                    auto idField = Make("Field(Id)", {L"Value"}, log, {{L"Value", [] { return Variant::Int32(42); }}});
                    auto field = Make("Field", {L"Value"}, log);
                    auto fields = Make("Fields", {L"Item"}, log, {{L"Item", [this, idField, field] {
                                                                      // The last Item call named the column.
                                                                      return Variant::Object(
                                                                          log->back().find("'Id'") != std::string::npos
                                                                              ? idField.Get()
                                                                              : field.Get());
                                                                  }}});
                    return Make("Recordset", {L"Open", L"AddNew", L"Update", L"Fields"}, log,
                                {{L"Fields", [fields] { return Variant::Object(fields.Get()); }}});
                }
                auto parameters = Make("Parameters", {L"Append"}, log);
                auto parameter = Make("Parameter", {L"Value"}, log);
                return Make("Command",
                            {L"ActiveConnection", L"CommandText", L"CommandType", L"Parameters", L"CreateParameter",
                             L"Execute"},
                            log,
                            {{L"Parameters", [parameters] { return Variant::Object(parameters.Get()); }},
                             {L"CreateParameter", [parameter] { return Variant::Object(parameter.Get()); }}});
            },
            [this](const std::wstring& provider) {
                return std::find(registeredProviders.begin(), registeredProviders.end(), provider) !=
                       registeredProviders.end();
            });
    }
};

TEST(AdoArchive, StoresARowAsTheArchiveAlwaysHas) {
    FakeAdo ado;
    AdoArchiveEngine engine = ado.Engine();
    auto connection = engine.Open("C:\\Program Files\\Tool\\Corvane.mdb");
    auto row = connection->OpenTable("recv");
    row->AddNew();
    row->SetField("Subject", std::string("Fax"));
    row->SetField("New", true);
    row->Update();
    EXPECT_EQ(row->Id(), 42);
    EXPECT_EQ(*ado.log, (Log{
                            "Connection.Provider='Microsoft.Jet.OLEDB.4.0'",
                            "Connection.Open('C:\\Program Files\\Tool\\Corvane.mdb','','',-1)",
                            "Recordset.Open('recv',<object>,1,3,2)",
                            "Recordset.AddNew",
                            "Recordset.Fields",
                            "Fields.Item('Subject')",
                            "Field.Value='Fax'",
                            "Recordset.Fields",
                            "Fields.Item('New')",
                            "Field.Value=True",
                            "Recordset.Update",
                            "Recordset.Fields",
                            "Fields.Item('Id')",
                            "Field(Id).Value",
                        }));
}

TEST(AdoArchive, StatementsRunWithBoundParameters) {
    FakeAdo ado;
    AdoArchiveEngine engine = ado.Engine();
    auto connection = engine.Open("C:\\a\\Corvane.mdb");
    ado.log->clear();
    EXPECT_EQ(connection->Execute("UPDATE send SET Confirm = ? WHERE Id = ?", {std::string("Successful"), std::int64_t{7}}),
              1);
    EXPECT_EQ(*ado.log, (Log{
                            "Command.ActiveConnection=<object>",
                            "Command.CommandText='UPDATE send SET Confirm = ? WHERE Id = ?'",
                            "Command.CommandType=1",
                            "Command.Parameters",
                            "Command.CreateParameter('',202,1,255,'Successful')",
                            "Parameters.Append(<object>)",
                            "Command.CreateParameter('',3,1,0,7)",
                            "Parameters.Append(<object>)",
                            "Command.Execute(0)",
                        }));
}

TEST(AdoArchive, AceOpensTheFileWhereJetIsMissing) {
    const struct {
        std::vector<std::wstring> registered;
        const wchar_t* provider;
    } cases[] = {
        {{L"Microsoft.Jet.OLEDB.4.0", L"Microsoft.ACE.OLEDB.16.0"}, L"Microsoft.Jet.OLEDB.4.0"},
        {{L"Microsoft.ACE.OLEDB.12.0", L"Microsoft.ACE.OLEDB.16.0"}, L"Microsoft.ACE.OLEDB.16.0"},
        {{L"Microsoft.ACE.OLEDB.12.0"}, L"Microsoft.ACE.OLEDB.12.0"},
        {{}, L"Microsoft.Jet.OLEDB.4.0"},
    };
    for (const auto& c : cases) {
        FakeAdo ado;
        ado.registeredProviders = c.registered;
        EXPECT_EQ(ado.Engine().Provider(), c.provider);
    }
}

}  // namespace
}  // namespace vexa::com
