// Stand-ins for Outlook's objects in the Windows tests: objects that answer members by name and
// record what is put into them, with an optional connection point that raises events to the sinks
// the add-in advises. Shared by the event and road tests.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "adapters/outlook/dispatch_object.h"
#include "adapters/outlook/late_bound.h"

namespace vexa::outlook::standin {

using Log = std::vector<std::string>;
using Reply = std::function<Variant(const std::vector<const VARIANT*>&)>;

// A connection point that keeps its sinks and raises events to them.
class Point final : public IConnectionPoint {
public:
    explicit Point(IID events) : events_(events) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        *iid = events_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        IDispatch* dispatch = nullptr;
        if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(&dispatch)))) return CONNECT_E_CANNOTCONNECT;
        sinks_.push_back(ComPtr<IDispatch>::Adopt(dispatch));
        *cookie = static_cast<DWORD>(sinks_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) return CONNECT_E_NOCONNECTION;
        sinks_[cookie - 1] = ComPtr<IDispatch>();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }
    std::size_t Advised() const {
        return static_cast<std::size_t>(std::count_if(sinks_.begin(), sinks_.end(), [](const auto& s) { return bool(s); }));
    }
    // The point holds no reference of its own on a sink while calling it, as a host need not: a
    // sink unadvised during its own call lives on only by what it holds itself.
    void Raise(DISPID id, std::vector<VARIANT> lastToFirst) {
        DISPPARAMS params{lastToFirst.data(), nullptr, static_cast<UINT>(lastToFirst.size()), 0};
        std::vector<IDispatch*> sinks;
        for (const auto& sink : sinks_) sinks.push_back(sink.Get());
        for (IDispatch* sink : sinks) {
            // One unadvised by an earlier sink's handler is not called.
            const bool advised =
                std::any_of(sinks_.begin(), sinks_.end(), [sink](const auto& s) { return s.Get() == sink; });
            if (sink && advised) sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        }
    }

private:
    IID events_;
    std::vector<ComPtr<IDispatch>> sinks_;
};

// An Outlook object: members answered by functions, puts recorded, and optionally one event source.
class Fake final : public DispatchObject, public IConnectionPointContainer {
public:
    Fake(std::string name, std::shared_ptr<Log> log, std::vector<std::pair<const wchar_t*, Reply>> members,
         IID events = IID_NULL)
        : point(events), name_(std::move(name)), log_(std::move(log)), table_(std::move(members)), events_(events) {
        for (const auto& member : table_) names_.push_back(member.first);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IConnectionPointContainer && events_ != IID_NULL) {
            *out = static_cast<IConnectionPointContainer*>(this);
            AddRef();
            return S_OK;
        }
        return DispatchObject::QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return DispatchObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DispatchObject::Release(); }
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
        if (iid != events_) return CONNECT_E_NOCONNECTION;
        *out = &point;
        return S_OK;
    }
    Point point;

protected:
    const std::vector<const wchar_t*>& Members() const override { return names_; }
    Variant Answer(DISPID id, WORD flags, const std::vector<const VARIANT*>& arguments) override {
        const auto& [member, answer] = table_[static_cast<std::size_t>(id - 1)];
        if (flags & DISPATCH_PROPERTYPUT) {
            Variant value;
            ::VariantCopy(&value.Raw(), const_cast<VARIANT*>(arguments.back()));
            const bool object = value.Raw().vt == VT_DISPATCH || value.Raw().vt == VT_UNKNOWN;
            log_->push_back(name_ + "." + WideToUtf8(member) + "=" + (object ? "<object>" : value.AsText()));
            return {};
        }
        return answer(arguments);
    }

private:
    std::string name_;
    std::shared_ptr<Log> log_;
    std::vector<std::pair<const wchar_t*, Reply>> table_;
    std::vector<const wchar_t*> names_;
    IID events_;
};

inline ComPtr<IDispatch> Make(std::string name, std::shared_ptr<Log> log,
                       std::vector<std::pair<const wchar_t*, Reply>> members, IID events = IID_NULL) {
    return ComPtr<IDispatch>::Adopt(
        DispatchObject::Create<Fake>(std::move(name), std::move(log), std::move(members), events));
}

inline Fake& Of(const ComPtr<IDispatch>& object) { return *static_cast<Fake*>(static_cast<DispatchObject*>(object.Get())); }

inline Reply Text(std::string text) {
    return [text](const auto&) { return Variant::Text(text); };
}
inline Reply Number(std::int32_t number) {
    return [number](const auto&) { return Variant::Int32(number); };
}
inline Reply Object(ComPtr<IDispatch> object) {
    return [object](const auto&) { return Variant::Object(object.Get()); };
}
inline Reply Recorded(std::shared_ptr<Log> log, std::string entry, Reply then) {
    return [log, entry, then](const auto& arguments) {
        log->push_back(entry);
        return then(arguments);
    };
}

}  // namespace vexa::outlook::standin
