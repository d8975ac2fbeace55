// Calling a COM object by member name through IDispatch, as the add-in calls Outlook's objects and
// the mail-item wrapper: properties read and written, methods called, with the host's failures
// (EXCEPINFO or HRESULT) translated into HostError with the host's own description.
#pragma once

#include <oaidl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "adapters/outlook/com_support.h"

namespace vexa::outlook {

// A VARIANT that clears itself.
class Variant {
public:
    Variant() { ::VariantInit(&value_); }
    Variant(const Variant& other);
    Variant& operator=(const Variant& other);
    Variant(Variant&& other) noexcept;
    ~Variant() { ::VariantClear(&value_); }

    static Variant Text(const std::string& utf8);
    static Variant Int16(std::int16_t number);
    static Variant Int32(std::int32_t number);
    static Variant Bool(bool value);
    static Variant Object(IDispatch* object);

    VARIANT& Raw() noexcept { return value_; }
    const VARIANT& Raw() const noexcept { return value_; }

    // Conversions as the host's run-time makes them; a value that does not convert fails with
    // HostError 13 "Type mismatch".
    std::string AsText() const;
    std::int32_t AsInt32() const;
    bool AsBool() const;
    // The object it holds, or null for Nothing (VT_EMPTY, VT_NULL or a null object).
    ComPtr<IDispatch> AsObject() const;
    bool IsNothing() const;

private:
    VARIANT value_;
};

class LateBound {
public:
    explicit LateBound(ComPtr<IDispatch> object) : object_(std::move(object)) {}

    Variant Get(const wchar_t* member, std::vector<Variant> arguments = {}) const;
    void Put(const wchar_t* member, const Variant& value) const;
    Variant Call(const wchar_t* member, std::vector<Variant> arguments = {}) const;

    IDispatch* Object() const noexcept { return object_.Get(); }

private:
    Variant Invoke(const wchar_t* member, WORD flags, std::vector<Variant>& arguments) const;
    ComPtr<IDispatch> object_;
};

}  // namespace vexa::outlook
