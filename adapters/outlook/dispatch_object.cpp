#include "adapters/outlook/dispatch_object.h"

#include <cwchar>

#include "host/host_error.h"

namespace vexa::outlook {

HRESULT DispatchObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG DispatchObject::Release() {
    const long left = --references_;
    if (left == 0) std::unique_ptr<DispatchObject>{this};
    return static_cast<ULONG>(left);
}

HRESULT DispatchObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    const auto& members = Members();
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (::_wcsicmp(names[0], members[i]) == 0) {
            ids[0] = static_cast<DISPID>(i + 1);
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT DispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT*) {
    if (id < 1 || static_cast<std::size_t>(id) > Members().size()) return DISP_E_MEMBERNOTFOUND;
    std::vector<const VARIANT*> arguments;
    if (params) {
        // IDispatch passes the arguments last to first; by-reference ones are read through.
        for (UINT i = params->cArgs; i > 0; --i) {
            const VARIANT* argument = &params->rgvarg[i - 1];
            if ((argument->vt & VT_BYREF) && argument->vt == (VT_VARIANT | VT_BYREF)) argument = argument->pvarVal;
            arguments.push_back(argument);
        }
    }
    try {
        Variant answer = Answer(id, flags, arguments);
        if (result) {
            ::VariantInit(result);
            std::swap(*result, answer.Raw());
        }
        return S_OK;
    } catch (const HostError& e) {
        if (exception) {
            *exception = EXCEPINFO{};
            exception->scode = e.Number() < 0 ? e.Number() : E_FAIL;
            exception->bstrSource = ToBstr("CVMAPI.SafeMailItem");
            exception->bstrDescription = ToBstr(e.Description());
        }
        return DISP_E_EXCEPTION;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace vexa::outlook
