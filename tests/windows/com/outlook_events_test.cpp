// Outlook's events reaching the add-in's event-bound references through connection points: a
// stand-in application raises ItemSend as Outlook does, and the Cancel the handler sets goes back
// through the by-reference argument; releasing the reference unadvises.

#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "apps/corvane/com_events.h"
#include "apps/corvane/dispatch_object.h"
#include "apps/corvane/outlook_host.h"
#include "host/mail_item.h"

namespace vexa::com {
namespace {

// One connection point: keeps the sinks advised to it and raises events to them.
class Point final : public IConnectionPoint {
public:
    explicit Point(IID events) : events_(events) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives as long as the test object
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
    void Raise(DISPID id, std::vector<VARIANT> lastToFirst) {
        DISPPARAMS params{lastToFirst.data(), nullptr, static_cast<UINT>(lastToFirst.size()), 0};
        for (const auto& sink : sinks_) {
            if (sink) sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        }
    }

private:
    IID events_;
    std::vector<ComPtr<IDispatch>> sinks_;
};

// Outlook's application as far as ItemSend goes: Class 0 and the application events.
class FakeApplication final : public DispatchObject, public IConnectionPointContainer {
public:
    FakeApplication() : point(kIidApplicationEvents) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IConnectionPointContainer) {
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
        if (iid != kIidApplicationEvents) return CONNECT_E_NOCONNECTION;
        *out = &point;
        return S_OK;
    }
    Point point;

protected:
    const std::vector<const wchar_t*>& Members() const override {
        static const std::vector<const wchar_t*> members{L"Class"};
        return members;
    }
    Variant Answer(DISPID, WORD, const std::vector<const VARIANT*>&) override { return Variant::Int32(0); }
};

// A mail item being sent: Class 43 and its Subject.
class FakeMail final : public DispatchObject {
protected:
    const std::vector<const wchar_t*>& Members() const override {
        static const std::vector<const wchar_t*> members{L"Class", L"Subject"};
        return members;
    }
    Variant Answer(DISPID id, WORD, const std::vector<const VARIANT*>&) override {
        return id == 1 ? Variant::Int32(43) : Variant::Text("Quote for ACME");
    }
};

class CancellingSink final : public ApplicationEvents {
public:
    void ItemSend(const ItemPtr& item, bool& cancel) override {
        subject = As<MailItem>(item)->Subject();
        cancel = true;
    }
    std::string subject;
};

TEST(OutlookEvents, ItemSendReachesTheHandlerAndCancelGoesBack) {
    auto application = ComPtr<IDispatch>::Adopt(DispatchObject::Create<FakeApplication>());
    auto* fake = static_cast<FakeApplication*>(application.Get());
    CancellingSink sink;
    {
        WithEvents<Application> oApp(sink);
        oApp = As<Application>(WrapApplication(application.Get()));
        EXPECT_EQ(fake->point.Advised(), 1u);

        auto mail = ComPtr<IDispatch>::Adopt(DispatchObject::Create<FakeMail>());
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANT arguments[2];
        arguments[0].vt = VT_BOOL | VT_BYREF;  // Cancel, last
        arguments[0].pboolVal = &cancel;
        arguments[1].vt = VT_DISPATCH;  // Item, first
        arguments[1].pdispVal = mail.Get();
        fake->point.Raise(kDispidItemSend, {arguments[0], arguments[1]});
        EXPECT_EQ(sink.subject, "Quote for ACME");
        EXPECT_EQ(cancel, VARIANT_TRUE);

        oApp = nullptr;  // releasing the reference ends the subscription
        EXPECT_EQ(fake->point.Advised(), 0u);
    }
}

TEST(OutlookEvents, AnObjectWithoutTheEventsIsRefused) {
    auto mail = ComPtr<IDispatch>::Adopt(DispatchObject::Create<FakeMail>());
    EXPECT_THROW(AdviseEvents(mail.Get(), kIidItemsEvents, nullptr), HostError);
    // Not Outlook's application: the start-up's conversion fails as the host's run-time would.
    EXPECT_THROW(As<Application>(WrapApplication(mail.Get())), HostError);
}

}  // namespace
}  // namespace vexa::com
