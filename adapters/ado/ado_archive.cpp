#include "adapters/ado/ado_archive.h"

#include <objbase.h>

#include <array>
#include <exception>

#include "host/host_error.h"

namespace vexa::ado {
namespace {

using outlook::LateBound;
using outlook::Variant;
using outlook::WideToUtf8;

// ADO's constants, as the add-in passes them.
constexpr std::int32_t kAdOpenKeyset = 1;
constexpr std::int32_t kAdLockOptimistic = 3;
constexpr std::int32_t kAdCmdTable = 2;
constexpr std::int32_t kAdCmdText = 1;
constexpr std::int32_t kAdOptionUnspecified = -1;

// The providers that open the archive, in the order they are tried: Jet, which made it, then the
// ACE providers that Office brings where there is no Jet (64-bit Office above all).
constexpr std::array<const wchar_t*, 3> kProviders{L"Microsoft.Jet.OLEDB.4.0", L"Microsoft.ACE.OLEDB.16.0",
                                                   L"Microsoft.ACE.OLEDB.12.0"};

// ADO's adErrProviderNotFound: the HRESULT in ADO's facility that a late-bound Open raises, or the
// bare number a Visual Basic caller sees.
bool ProviderNotFound(const HostError& failure) {
    return failure.Number() == static_cast<std::int32_t>(0x800A0E7Au) || failure.Number() == 3706;
}

Variant ToVariant(const FieldValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return Variant::Text(*text);
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        if (*number < INT32_MIN || *number > INT32_MAX) throw error::Overflow();
        return Variant::Int32(static_cast<std::int32_t>(*number));
    }
    if (const auto* flag = std::get_if<bool>(&value)) return Variant::Bool(*flag);
    if (const auto* time = std::get_if<LocalDateTime>(&value)) {
        SYSTEMTIME system{};
        system.wYear = static_cast<WORD>(time->year);
        system.wMonth = static_cast<WORD>(time->month);
        system.wDay = static_cast<WORD>(time->day);
        system.wHour = static_cast<WORD>(time->hour);
        system.wMinute = static_cast<WORD>(time->minute);
        system.wSecond = static_cast<WORD>(time->second);
        Variant date;
        date.Raw().vt = VT_DATE;
        if (!::SystemTimeToVariantTime(&system, &date.Raw().date)) throw error::TypeMismatch();
        return date;
    }
    Variant null;
    null.Raw().vt = VT_NULL;
    return null;
}

class AdoRecordset final : public ArchiveRecordset {
public:
    explicit AdoRecordset(ComPtr<IDispatch> recordset) : recordset_(std::move(recordset)) {}
    // Released, not closed: each stored message opens its own.
    void AddNew() override { recordset_.Call(L"AddNew"); }
    void SetField(const std::string& column, const FieldValue& value) override {
        Field(column).Put(L"Value", ToVariant(value));
    }
    void Update() override { recordset_.Call(L"Update"); }
    std::int64_t Id() override { return Field("Id").Get(L"Value").AsInt32(); }

private:
    LateBound Field(const std::string& column) const {
        const LateBound fields(recordset_.Get(L"Fields").AsObject());
        return LateBound(fields.Call(L"Item", {Variant::Text(column)}).AsObject());
    }
    LateBound recordset_;
};

class AdoConnection final : public ArchiveConnection {
public:
    AdoConnection(ComPtr<IDispatch> connection, AdoArchiveEngine::Creator create)
        : connection_(std::move(connection)), create_(std::move(create)) {}

    void Close() override { connection_.Call(L"Close"); }

    std::unique_ptr<ArchiveRecordset> OpenTable(const std::string& table) override {
        const LateBound recordset(create_(L"ADODB.Recordset"));
        recordset.Call(L"Open", {Variant::Text(table), Variant::Object(connection_.Object()), Variant::Int32(kAdOpenKeyset),
                                 Variant::Int32(kAdLockOptimistic), Variant::Int32(kAdCmdTable)});
        return std::make_unique<AdoRecordset>(ComPtr<IDispatch>::Retain(recordset.Object()));
    }

    std::int32_t Execute(const std::string& statement, const std::vector<FieldValue>& parameters) override {
        // A command with its parameters bound: nothing from a mail is spliced into the text.
        const LateBound command(create_(L"ADODB.Command"));
        command.Put(L"ActiveConnection", Variant::Object(connection_.Object()));
        command.Put(L"CommandText", Variant::Text(statement));
        command.Put(L"CommandType", Variant::Int32(kAdCmdText));
        const LateBound list(command.Get(L"Parameters").AsObject());
        for (const auto& parameter : parameters) {
            const Variant value = ToVariant(parameter);
            // CreateParameter(Name, Type, Direction = input, Size, Value)
            const std::int32_t type = value.Raw().vt == VT_BSTR ? 202 : value.Raw().vt == VT_I4 ? 3 : 11;
            const std::int32_t size = value.Raw().vt == VT_BSTR ? 255 : 0;
            const Variant created = command.Call(
                L"CreateParameter",
                {Variant::Text(""), Variant::Int32(type), Variant::Int32(1), Variant::Int32(size), value});
            list.Call(L"Append", {created});
        }
        Variant affected = Variant::Int32(0);
        Variant reference;
        reference.Raw().vt = VT_VARIANT | VT_BYREF;
        reference.Raw().pvarVal = &affected.Raw();
        command.Call(L"Execute", {reference});
        reference.Raw().vt = VT_EMPTY;  // the slot is ours, not the variant's to free
        return affected.AsInt32();
    }

    void BeginTrans() override { connection_.Call(L"BeginTrans"); }
    void CommitTrans() override { connection_.Call(L"CommitTrans"); }
    void RollbackTrans() override { connection_.Call(L"RollbackTrans"); }

private:
    LateBound connection_;
    AdoArchiveEngine::Creator create_;
};

ComPtr<IDispatch> CreateByProgId(const std::wstring& progId) {
    CLSID clsid{};
    if (FAILED(::CLSIDFromProgID(progId.c_str(), &clsid))) throw HostError(429, "ActiveX component can't create object");
    ComPtr<IDispatch> object;
    const HRESULT result = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                              IID_IDispatch, reinterpret_cast<void**>(object.Put()));
    if (FAILED(result)) throw HostError(429, "ActiveX component can't create object");
    return object;
}

bool ProviderRegistered(const std::wstring& provider) {
    CLSID clsid{};
    return SUCCEEDED(::CLSIDFromProgID(provider.c_str(), &clsid));
}

}  // namespace

AdoArchiveEngine::AdoArchiveEngine() : AdoArchiveEngine(CreateByProgId, ProviderRegistered) {}

AdoArchiveEngine::AdoArchiveEngine(Creator create, ProviderCheck registered)
    : create_(std::move(create)), registered_(std::move(registered)) {}

std::unique_ptr<ArchiveConnection> AdoArchiveEngine::Open(const std::string& path) {
    // A provider whose name resolves may still have no class in this process's registry view (the
    // name keys are shared between the 32-bit and 64-bit views, the classes are not), which only
    // Open tells: then the next one is tried, on a connection of its own.
    std::exception_ptr firstFailure;
    for (const wchar_t* provider : kProviders) {
        if (!registered_(provider)) continue;
        try {
            return OpenWith(provider, path);
        } catch (const HostError& failure) {
            if (!ProviderNotFound(failure)) throw;
            if (!firstFailure) firstFailure = std::current_exception();
        }
    }
    if (firstFailure) std::rethrow_exception(firstFailure);
    // No provider is known at all: Jet's own failure names what the archive was made for.
    return OpenWith(kProviders.front(), path);
}

std::unique_ptr<ArchiveConnection> AdoArchiveEngine::OpenWith(const wchar_t* provider, const std::string& path) {
    const LateBound connection(create_(L"ADODB.Connection"));
    connection.Put(L"Provider", Variant::Text(WideToUtf8(provider)));
    // The connection string is the bare file path; user and password empty; options unspecified.
    connection.Call(L"Open", {Variant::Text(path), Variant::Text(""), Variant::Text(""),
                              Variant::Int32(kAdOptionUnspecified)});
    return std::make_unique<AdoConnection>(ComPtr<IDispatch>::Retain(connection.Object()), create_);
}

}  // namespace vexa::ado
