#include "apps/corvane/connect_object.h"

#include <string>

#include "adapters/outlook/com_events.h"
#include "apps/corvane/module_state.h"

namespace vexa::com {
namespace {

using outlook::ComPtr;
using outlook::liveObjects;
using outlook::ToBstr;
using outlook::ToUtf8;

// No exception may leave a COM method towards Outlook. The object holds itself for the length
// of the call, as Outlook may let it go while a dialog of the call is up, and names itself the
// owner of the sinks the call advises, which then hold it for the length of each event.
template <class Work>
HRESULT Guarded(IUnknown* self, Work&& work) noexcept {
    const auto held = ComPtr<IUnknown>::Retain(self);
    const outlook::CallOwner owner(self);
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ReturnText(const std::string& text, BSTR* result) {
    if (!result) return E_POINTER;
    *result = ToBstr(text);
    return *result ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

ConnectObject::ConnectObject()
    : platform_(std::make_unique<WindowsPlatform>(ModuleState())), addin_(std::make_unique<vexa::Connect>(platform_->Bundle())) {
    ++liveObjects;
}

ConnectObject::~ConnectObject() { --liveObjects; }

HRESULT ConnectObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__Connect) {
        *out = static_cast<_Connect*>(this);
    } else if (iid == IID_IDTExtensibility2) {
        *out = static_cast<IDTExtensibility2*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG ConnectObject::AddRef() { return static_cast<ULONG>(++references_); }

ULONG ConnectObject::Release() {
    const long left = --references_;
    if (left == 0) std::unique_ptr<ConnectObject>{this};
    return static_cast<ULONG>(left);
}

HRESULT ConnectObject::LoadTypeInfo() {
    if (typeInfo_) return S_OK;
    wchar_t path[MAX_PATH];
    if (::GetModuleFileNameW(moduleHandle, path, MAX_PATH) == 0) return HRESULT_FROM_WIN32(::GetLastError());
    ComPtr<ITypeLib> library;
    HRESULT result = ::LoadTypeLibEx(path, REGKIND_NONE, library.Put());
    if (FAILED(result)) return result;
    return library->GetTypeInfoOfGuid(IID__Connect, typeInfo_.Put());
}

HRESULT ConnectObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ConnectObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    const HRESULT result = LoadTypeInfo();
    if (FAILED(result)) return result;
    typeInfo_->AddRef();
    *info = typeInfo_.Get();
    return S_OK;
}

HRESULT ConnectObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    const HRESULT result = LoadTypeInfo();
    if (FAILED(result)) return result;
    return ::DispGetIDsOfNames(typeInfo_.Get(), names, count, ids);
}

HRESULT ConnectObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* exception, UINT* argumentError) {
    const HRESULT loaded = LoadTypeInfo();
    if (FAILED(loaded)) return loaded;
    return ::DispInvoke(static_cast<_Connect*>(this), typeInfo_.Get(), id, flags, params, result, exception,
                        argumentError);
}

HRESULT ConnectObject::StringFromBuffer(BSTR* Buffer, BSTR* result) {
    return Guarded(Self(), [&] {
        if (!Buffer) return E_POINTER;
        return ReturnText(addin_->StringFromBuffer(ToUtf8(*Buffer)), result);
    });
}

HRESULT ConnectObject::OpenDescription(BSTR* result) {
    return Guarded(Self(), [&] { return ReturnText(addin_->OpenDescription(), result); });
}

HRESULT ConnectObject::GetReplyToAddress(IDispatch** oMailItem, BSTR* result) {
    return Guarded(Self(),
                   [&] { return ReturnText(addin_->GetReplyToAddress(platform_->MailItem(oMailItem)), result); });
}

HRESULT ConnectObject::GetSafeSenderAddress(IDispatch** oMailItem, BSTR* result) {
    return Guarded(Self(),
                   [&] { return ReturnText(addin_->GetSafeSenderAddress(platform_->MailItem(oMailItem)), result); });
}

HRESULT ConnectObject::GetSafeRecipientAddress(IDispatch** oMailItem, BSTR* result) {
    return Guarded(Self(),
                   [&] { return ReturnText(addin_->GetSafeRecipientAddress(platform_->MailItem(oMailItem)), result); });
}

HRESULT ConnectObject::OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                                    SAFEARRAY**) {
    return Guarded(Self(), [&] {
        // The module's own application, when it takes one, is the one Outlook hands over here.
        const auto handOver = ModuleOutlook().Offer(Application);
        CustomArgs custom;
        addin_->OnConnection(platform_->HostObject(Application), static_cast<vexa::ConnectMode>(ConnectMode),
                             platform_->HostObject(AddInInst), custom);
        return S_OK;
    });
}

HRESULT ConnectObject::OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY**) {
    return Guarded(Self(), [&] {
        CustomArgs custom;
        addin_->OnDisconnection(static_cast<vexa::DisconnectMode>(RemoveMode), custom);
        return S_OK;
    });
}

HRESULT ConnectObject::OnAddInsUpdate(SAFEARRAY**) {
    return Guarded(Self(), [&] {
        CustomArgs custom;
        addin_->OnAddInsUpdate(custom);
        return S_OK;
    });
}

HRESULT ConnectObject::OnStartupComplete(SAFEARRAY**) {
    return Guarded(Self(), [&] {
        CustomArgs custom;
        addin_->OnStartupComplete(custom);
        return S_OK;
    });
}

HRESULT ConnectObject::OnBeginShutdown(SAFEARRAY**) {
    return Guarded(Self(), [&] {
        CustomArgs custom;
        addin_->OnBeginShutdown(custom);
        return S_OK;
    });
}

}  // namespace vexa::com
