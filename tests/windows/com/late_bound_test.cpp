// Calls by name through IDispatch, against an object that records how it was called: the call
// forms the add-in relies on (property put by value, 16-bit indices, Nothing) and the host's
// failures arriving as HostError with the host's own words.

#include <gtest/gtest.h>

#include <string>

#include "adapters/outlook/late_bound.h"
#include "host/host_error.h"

namespace vexa::outlook {
namespace {

// A scriptable object with a few members, as a host object would offer them.
class FakeObject final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* id) override {
        const std::wstring name = names[0];
        const wchar_t* members[] = {L"Subject", L"Item", L"Fail", L"Sender"};
        for (DISPID i = 0; i < 4; ++i) {
            if (_wcsicmp(name.c_str(), members[i]) == 0) {
                *id = i + 1;
                return S_OK;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT*) override {
        lastFlags = flags;
        switch (id) {
            case 1:  // Subject
                if (flags & DISPATCH_PROPERTYPUT) {
                    if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
                        return DISP_E_PARAMNOTOPTIONAL;
                    }
                    subject = params->rgvarg[0].bstrVal;
                    return S_OK;
                }
                result->vt = VT_BSTR;
                result->bstrVal = ::SysAllocString(subject.c_str());
                return S_OK;
            case 2:  // Item(index)
                lastArgumentType = params->rgvarg[0].vt;
                result->vt = VT_I4;
                result->lVal = params->rgvarg[0].iVal * 10;
                return S_OK;
            case 3:  // Fail
                exception->scode = E_FAIL;
                exception->bstrDescription = ::SysAllocString(L"Cannot move the item.");
                exception->bstrSource = ::SysAllocString(L"Host");
                return DISP_E_EXCEPTION;
            case 4:  // Sender: Nothing
                result->vt = VT_DISPATCH;
                result->pdispVal = nullptr;
                return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    ULONG references = 1;
    std::wstring subject = L"Quote";
    WORD lastFlags = 0;
    VARTYPE lastArgumentType = VT_EMPTY;
};

TEST(LateBound, PropertiesMethodsAndNothing) {
    FakeObject fake;
    {
        LateBound object(ComPtr<IDispatch>::Retain(&fake));
        EXPECT_EQ(object.Get(L"Subject").AsText(), "Quote");
        object.Put(L"subject", Variant::Text("Quote {0000042} M\xC3\xBCller"));
        EXPECT_EQ(fake.lastFlags, DISPATCH_PROPERTYPUT);
        EXPECT_EQ(object.Get(L"Subject").AsText(), "Quote {0000042} M\xC3\xBCller");
        EXPECT_EQ(object.Call(L"Item", {Variant::Int16(1)}).AsInt32(), 10);
        EXPECT_EQ(fake.lastArgumentType, VT_I2);
        EXPECT_TRUE(object.Get(L"Sender").IsNothing());
        EXPECT_FALSE(object.Get(L"Sender").AsObject());
        EXPECT_THROW(object.Get(L"Subject").AsObject(), HostError);
    }
    EXPECT_EQ(fake.references, 1u);  // every reference taken was given back
}

TEST(LateBound, HostFailuresBecomeHostErrors) {
    FakeObject fake;
    LateBound object(ComPtr<IDispatch>::Retain(&fake));
    const struct {
        const wchar_t* member;
        std::int32_t number;
        std::string description;
    } cases[] = {
        {L"Fail", static_cast<std::int32_t>(E_FAIL), "Cannot move the item."},
        {L"Move", 438, "Object doesn't support this property or method: Move"},
    };
    for (const auto& c : cases) {
        try {
            object.Call(c.member);
            ADD_FAILURE() << "no failure";
        } catch (const HostError& e) {
            EXPECT_EQ(e.Number(), c.number);
            EXPECT_EQ(e.Description(), c.description);
        }
    }
    EXPECT_THROW(LateBound(ComPtr<IDispatch>()).Get(L"Subject"), HostError);
}

TEST(LateBound, ConversionsFollowTheRunTime) {
    EXPECT_EQ(Variant::Int32(42).AsText(), "42");
    EXPECT_EQ(Variant::Text("17").AsInt32(), 17);
    EXPECT_TRUE(Variant::Bool(true).AsBool());
    EXPECT_THROW(Variant::Text("seventeen").AsInt32(), HostError);
    Variant copy = Variant::Text("kept");
    Variant second = copy;
    EXPECT_EQ(second.AsText(), "kept");
}

}  // namespace
}  // namespace vexa::outlook
