// A COM object that scripts reach by member name, for small classes that have no type library entry
// (the add-in's mail-item wrapper and what it returns, and the stand-ins that play Outlook and ADO
// in the tests): a table of member names and one Invoke that subclasses answer.
#pragma once

#include <oaidl.h>

#include <atomic>
#include <memory>
#include <vector>

#include "adapters/outlook/com_support.h"
#include "adapters/outlook/late_bound.h"

namespace vexa::outlook {

class DispatchObject : public IDispatch {
public:
    DispatchObject() { ++liveObjects; }
    virtual ~DispatchObject() { --liveObjects; }
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) override;

    // Hands a new object to a caller as an IDispatch reference it owns.
    template <class T, class... A>
    static IDispatch* Create(A&&... arguments) {
        return std::make_unique<T>(std::forward<A>(arguments)...).release();
    }

protected:
    // The member names, in DISPID order starting at 1; matched without letter case.
    virtual const std::vector<const wchar_t*>& Members() const = 0;
    // Answers one member; `arguments` are first to last. Failures throw HostError, which reaches
    // the caller as an exception with its description.
    virtual Variant Answer(DISPID id, WORD flags, const std::vector<const VARIANT*>& arguments) = 0;

private:
    std::atomic<long> references_{1};
};

}  // namespace vexa::outlook
