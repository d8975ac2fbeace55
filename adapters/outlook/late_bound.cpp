#include "adapters/outlook/late_bound.h"

#include <algorithm>

#include "host/host_error.h"

namespace vexa::outlook {
namespace {

std::string SystemText(HRESULT result) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(result), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : L"";
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
        message.pop_back();
    }
    if (message.empty()) {
        wchar_t code[32];
        ::swprintf(code, 32, L"Automation error 0x%08lX", static_cast<unsigned long>(result));
        message = code;
    }
    return WideToUtf8(message);
}

// The host's own words for a failed call: the exception it raised, else the system's text.
HostError Failure(HRESULT result, EXCEPINFO& exception, const wchar_t* member) {
    if (result == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        const Bstr description = Bstr::Adopt(exception.bstrDescription);
        ::SysFreeString(exception.bstrSource);
        ::SysFreeString(exception.bstrHelpFile);
        const HRESULT code = exception.scode ? exception.scode : MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, exception.wCode);
        std::string text = ToUtf8(description.Get());
        if (text.empty()) text = SystemText(code);
        return HostError(static_cast<std::int32_t>(code), text);
    }
    if (result == DISP_E_UNKNOWNNAME || result == DISP_E_MEMBERNOTFOUND) {
        return HostError(438, "Object doesn't support this property or method: " + WideToUtf8(member));
    }
    if (result == DISP_E_TYPEMISMATCH) return error::TypeMismatch();
    return HostError(static_cast<std::int32_t>(result), SystemText(result));
}

HostError Mismatch() { return error::TypeMismatch(); }

}  // namespace

Variant::Variant(const Variant& other) {
    ::VariantInit(&value_);
    if (FAILED(::VariantCopy(&value_, const_cast<VARIANT*>(&other.value_)))) throw HostError(7, "Out of memory");
}

Variant& Variant::operator=(const Variant& other) {
    if (this != &other) {
        Variant copy(other);
        std::swap(value_, copy.value_);
    }
    return *this;
}

Variant::Variant(Variant&& other) noexcept : value_(other.value_) { ::VariantInit(&other.value_); }

Variant Variant::Text(const std::string& utf8) {
    Variant v;
    v.value_.vt = VT_BSTR;
    v.value_.bstrVal = ToBstr(utf8);
    return v;
}

Variant Variant::Int16(std::int16_t number) {
    Variant v;
    v.value_.vt = VT_I2;
    v.value_.iVal = number;
    return v;
}

Variant Variant::Int32(std::int32_t number) {
    Variant v;
    v.value_.vt = VT_I4;
    v.value_.lVal = number;
    return v;
}

Variant Variant::Bool(bool value) {
    Variant v;
    v.value_.vt = VT_BOOL;
    v.value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Variant Variant::Object(IDispatch* object) {
    Variant v;
    v.value_.vt = VT_DISPATCH;
    v.value_.pdispVal = object;
    if (object) object->AddRef();
    return v;
}

std::string Variant::AsText() const {
    if (value_.vt == VT_BSTR) return ToUtf8(value_.bstrVal);
    VARIANT converted;
    ::VariantInit(&converted);
    if (FAILED(::VariantChangeType(&converted, const_cast<VARIANT*>(&value_), 0, VT_BSTR))) throw Mismatch();
    std::string text = ToUtf8(converted.bstrVal);
    ::VariantClear(&converted);
    return text;
}

std::int32_t Variant::AsInt32() const {
    VARIANT converted;
    ::VariantInit(&converted);
    if (FAILED(::VariantChangeType(&converted, const_cast<VARIANT*>(&value_), 0, VT_I4))) throw Mismatch();
    return converted.lVal;
}

bool Variant::AsBool() const {
    VARIANT converted;
    ::VariantInit(&converted);
    if (FAILED(::VariantChangeType(&converted, const_cast<VARIANT*>(&value_), 0, VT_BOOL))) throw Mismatch();
    return converted.boolVal != VARIANT_FALSE;
}

bool Variant::IsNothing() const {
    return value_.vt == VT_EMPTY || value_.vt == VT_NULL || (value_.vt == VT_DISPATCH && !value_.pdispVal) ||
           (value_.vt == VT_UNKNOWN && !value_.punkVal);
}

ComPtr<IDispatch> Variant::AsObject() const {
    if (IsNothing()) return {};
    if (value_.vt == VT_DISPATCH) return ComPtr<IDispatch>::Retain(value_.pdispVal);
    if (value_.vt == VT_UNKNOWN) {
        ComPtr<IDispatch> object;
        if (SUCCEEDED(value_.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(object.Put())))) {
            return object;
        }
    }
    throw Mismatch();
}

Variant LateBound::Get(const wchar_t* member, std::vector<Variant> arguments) const {
    return Invoke(member, DISPATCH_PROPERTYGET | DISPATCH_METHOD, arguments);
}

void LateBound::Put(const wchar_t* member, const Variant& value) const {
    std::vector<Variant> arguments{value};
    // An object is assigned as a value (property put), not by reference.
    Invoke(member, DISPATCH_PROPERTYPUT, arguments);
}

Variant LateBound::Call(const wchar_t* member, std::vector<Variant> arguments) const {
    return Invoke(member, DISPATCH_METHOD, arguments);
}

Variant LateBound::Invoke(const wchar_t* member, WORD flags, std::vector<Variant>& arguments) const {
    if (!object_) throw error::ObjectNotSet();
    std::wstring name = member;
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    HRESULT result = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    EXCEPINFO exception{};
    if (FAILED(result)) throw Failure(result, exception, member);

    // IDispatch takes its arguments last to first.
    std::vector<VARIANT> raw;
    for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) raw.push_back(it->Raw());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    Variant value;
    UINT argumentError = 0;
    result = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                             (flags & DISPATCH_PROPERTYPUT) ? nullptr : &value.Raw(), &exception, &argumentError);
    if (FAILED(result)) throw Failure(result, exception, member);
    return value;
}

}  // namespace vexa::outlook
