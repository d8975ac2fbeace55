// The module's entry points: the four exports of an in-process COM server.

#include <windows.h>

#include <memory>

#include "adapters/outlook/com_support.h"
#include "adapters/outlook/outlook_host.h"
#include "apps/corvane/class_factory.h"
#include "apps/corvane/connect_object.h"
#include "apps/corvane/module_state.h"
#include "apps/corvane/registration.h"
#include "apps/corvane/safe_mail_item.h"
#include "corvane.h"

using vexa::com::ClassFactory;
using vexa::com::ConnectObject;

HMODULE vexa::com::moduleHandle = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        vexa::com::moduleHandle = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

namespace {

struct ModuleParts {
    vexa::outlook::HandedOverApplication outlook;
    vexa::AddinModule module{outlook};
};

// Storage whose contents are never destroyed.
union Kept {
    Kept() : parts() {}
    ~Kept() {}
    ModuleParts parts;
};

}  // namespace

namespace {

ModuleParts& Parts() {
    // Outlook's application is never released: at unload that call would run under the loader
    // lock, perhaps after COM has shut down. DllCanUnloadNow keeps the module loaded instead.
    static Kept kept;
    return kept.parts;
}

}  // namespace

vexa::AddinModule& vexa::com::ModuleState() { return Parts().module; }

vexa::outlook::HandedOverApplication& vexa::com::ModuleOutlook() { return Parts().outlook; }

namespace {

// Gives the caller the factory's interface; the factory lives on by that reference alone.
template <class Factory>
HRESULT HandOut(std::unique_ptr<Factory> factory, REFIID iid, void** out) {
    const HRESULT result = factory->QueryInterface(iid, out);
    if (SUCCEEDED(result)) factory.release()->Release();
    return result;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        if (clsid == CLSID_Connect) return HandOut(std::make_unique<ClassFactory<ConnectObject>>(), iid, out);
        if (clsid == vexa::com::kClsidSafeMailItem) {
            return HandOut(std::make_unique<ClassFactory<vexa::com::SafeMailItemObject>>(), iid, out);
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// Once the module holds Outlook's application it stays loaded, so that every later add-in object
// shares that one object rather than a new module taking another.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return vexa::outlook::liveObjects == 0 && !vexa::com::ModuleState().HoldsApplication() ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return vexa::com::RegisterServer(); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return vexa::com::UnregisterServer(); }
