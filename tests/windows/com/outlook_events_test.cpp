// Outlook's events reaching the add-in's event-bound references through connection points: a
// stand-in application raises ItemSend as Outlook does, and the Cancel the handler sets goes back
// through the by-reference argument; releasing the reference unadvises.

#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "adapters/outlook/com_events.h"
#include "adapters/outlook/dispatch_object.h"
#include "adapters/outlook/outlook_host.h"
#include "host/mail_item.h"
#include "tests/windows/com/stand_in_outlook.h"

namespace vexa::outlook {
namespace {

using namespace vexa::outlook::standin;

class CancellingSink final : public ApplicationEvents {
public:
    void ItemSend(const ItemPtr& item, bool& cancel) override {
        subject = As<MailItem>(item)->Subject();
        cancel = true;
    }
    std::string subject;
};

TEST(OutlookEvents, ItemSendReachesTheHandlerAndCancelGoesBack) {
    auto log = std::make_shared<Log>();
    // Outlook's application as far as ItemSend goes: Class 0 and the application events.
    auto application = Make("Application", log, {{L"Class", Number(0)}}, kIidApplicationEvents);
    Fake* fake = &Of(application);
    CancellingSink sink;
    {
        WithEvents<Application> oApp(sink);
        oApp = As<Application>(WrapApplication(application.Get()));
        EXPECT_EQ(fake->point.Advised(), 1u);

        auto mail = Make("Mail", log, {{L"Class", Number(43)}, {L"Subject", Text("Quote for ACME")}});
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

// A handler that ends its own subscription (the explorer's Close releasing every reference, or
// Outlook letting the add-in go while a dialog of the handler is up) still runs to its end: its
// sink and what the handler holds stay until the call returns.
int gHandlerStatesGone = 0;
struct HandlerState {
    ~HandlerState() { ++gHandlerStatesGone; }
};

TEST(OutlookEvents, AHandlerThatEndsItsSubscriptionKeepsItsSinkAndStateUntilItReturns) {
    auto log = std::make_shared<Log>();
    auto items = Make("Items", log, {}, kIidItemsEvents);
    gHandlerStatesGone = 0;
    const long objectsBefore = liveObjects;
    Subscription subscription;
    int statesGoneDuringCall = -1;
    long objectsDuringCall = -1;
    subscription = AdviseEvents(items.Get(), kIidItemsEvents,
                                [state = std::make_shared<HandlerState>(), &subscription, &statesGoneDuringCall,
                                 &objectsDuringCall](DISPID, DISPPARAMS&) {
                                    (void)state;
                                    // Taken before the subscription ends, as the handler's own state may go with it.
                                    int* statesGone = &statesGoneDuringCall;
                                    long* objects = &objectsDuringCall;
                                    subscription.Reset();
                                    *statesGone = gHandlerStatesGone;
                                    *objects = liveObjects;
                                });
    ASSERT_EQ(Of(items).point.Advised(), 1u);
    Of(items).point.Raise(kDispidItemAdd, {});

    EXPECT_EQ(statesGoneDuringCall, 0);
    EXPECT_EQ(objectsDuringCall, objectsBefore + 1);  // the sink
    EXPECT_EQ(Of(items).point.Advised(), 0u);
    EXPECT_EQ(gHandlerStatesGone, 1);
    EXPECT_EQ(liveObjects, objectsBefore);
}

TEST(OutlookEvents, AnObjectWithoutTheEventsIsRefused) {
    auto log = std::make_shared<Log>();
    auto mail = Make("Mail", log, {{L"Class", Number(43)}, {L"Subject", Text("Quote for ACME")}});
    EXPECT_THROW(AdviseEvents(mail.Get(), kIidItemsEvents, nullptr), HostError);
    // Not Outlook's application: the start-up's conversion fails as the host's run-time would.
    EXPECT_THROW(As<Application>(WrapApplication(mail.Get())), HostError);
}

}  // namespace
}  // namespace vexa::outlook
