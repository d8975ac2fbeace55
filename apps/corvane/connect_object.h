// The COM class Connect (ProgID Corvane.Connect) that Outlook creates and connects: the add-in
// object of the core behind Office's add-in connection interface and the dual interface _Connect,
// whose methods it answers through the module's own type library.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "adapters/outlook/com_support.h"
#include "apps/corvane/windows_platform.h"
#include "corvane.h"

namespace vexa::com {

class ConnectObject final : public _Connect, public IDTExtensibility2 {
public:
    ConnectObject();
    ~ConnectObject();
    ConnectObject(const ConnectObject&) = delete;
    ConnectObject& operator=(const ConnectObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, answered for _Connect from the type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // _Connect
    HRESULT STDMETHODCALLTYPE StringFromBuffer(BSTR* Buffer, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE OpenDescription(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetReplyToAddress(IDispatch** oMailItem, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetSafeSenderAddress(IDispatch** oMailItem, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetSafeRecipientAddress(IDispatch** oMailItem, BSTR* result) override;

    // IDTExtensibility2
    HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                                           SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) override;

private:
    HRESULT LoadTypeInfo();
    IUnknown* Self() { return static_cast<_Connect*>(this); }

    std::atomic<long> references_{1};
    outlook::ComPtr<ITypeInfo> typeInfo_;
    std::unique_ptr<WindowsPlatform> platform_;
    std::unique_ptr<vexa::Connect> addin_;
};

}  // namespace vexa::com
