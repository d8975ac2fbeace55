// The class factory that DllGetClassObject hands out for each creatable class of the module.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <memory>

#include "adapters/outlook/com_support.h"

namespace vexa::com {

using outlook::liveObjects;

template <class Object>
class ClassFactory final : public IClassFactory {
public:
    ClassFactory() { ++liveObjects; }
    ~ClassFactory() { --liveObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --references_;
        // A COM object ends its own life when its last reference goes.
        if (left == 0) std::unique_ptr<ClassFactory>{this};
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        try {
            auto object = std::make_unique<Object>();
            const HRESULT result = object->QueryInterface(iid, out);
            if (SUCCEEDED(result)) object.release()->Release();  // the caller's reference is the one left
            return result;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? ++liveObjects : --liveObjects;
        return S_OK;
    }

private:
    std::atomic<long> references_{1};
};

}  // namespace vexa::com
