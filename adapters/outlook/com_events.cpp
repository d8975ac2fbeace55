#include "adapters/outlook/com_events.h"

#include <ocidl.h>

#include <memory>
#include <utility>

#include "host/host_error.h"

namespace vexa::outlook {
namespace {

thread_local IUnknown* currentOwner = nullptr;

class EventSink final : public IDispatch {
public:
    EventSink(const IID& events, EventHandler handler, IUnknown* owner)
        : events_(events), handler_(std::move(handler)), owner_(owner) {
        ++liveObjects;
    }
    ~EventSink() { --liveObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == events_) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --references_;
        if (left == 0) std::unique_ptr<EventSink>{this};
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        // Held until the handler returns, released in reverse order: the owner first (which may
        // end this subscription as it goes), then the handler, then the sink itself, which the
        // host may have dropped meanwhile.
        const auto self = ComPtr<EventSink>::Retain(this);
        const EventHandler handler = handler_;
        if (!handler) return S_OK;
        const auto owner = ComPtr<IUnknown>::Retain(owner_);
        const CallOwner scope(owner_);
        // The handlers report their own failures; nothing goes back to the host.
        try {
            handler(id, params ? *params : none);
        } catch (...) {
        }
        return S_OK;
    }
    // After the unadvise the host may still hold the sink a moment; it must call nothing, and
    // the owner may be gone.
    void Disconnect() {
        handler_ = nullptr;
        owner_ = nullptr;
    }

private:
    IID events_;
    EventHandler handler_;
    // Not a reference: the owner holds the subscription, and so this sink.
    IUnknown* owner_;
    std::atomic<long> references_{1};
};

}  // namespace

Subscription AdviseEvents(IDispatch* source, const IID& events, EventHandler handler) {
    if (!source) throw error::ObjectNotSet();
    ComPtr<IConnectionPointContainer> container;
    HRESULT result = source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.Put()));
    if (FAILED(result)) throw HostError(static_cast<std::int32_t>(result), "The object raises no events.");
    ComPtr<IConnectionPoint> point;
    result = container->FindConnectionPoint(events, point.Put());
    if (FAILED(result)) throw HostError(static_cast<std::int32_t>(result), "The object does not raise these events.");
    auto sink =
        ComPtr<EventSink>::Adopt(std::make_unique<EventSink>(events, std::move(handler), currentOwner).release());
    DWORD cookie = 0;
    result = point->Advise(sink.Get(), &cookie);
    if (FAILED(result)) throw HostError(static_cast<std::int32_t>(result), "The object refused the subscription.");
    return Subscription([point, sink, cookie] {
        sink->Disconnect();
        point->Unadvise(cookie);
    });
}

CallOwner::CallOwner(IUnknown* owner) : previous_(std::exchange(currentOwner, owner)) {}

CallOwner::~CallOwner() { currentOwner = previous_; }

}  // namespace vexa::outlook
