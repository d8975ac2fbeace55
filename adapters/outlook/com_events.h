// Subscribing to a COM object's events through its connection point: a sink object that answers
// the event interface and hands each event (its DISPID and arguments) to a handler, and a
// Subscription that unadvises when it ends. This is how the add-in's event-bound references
// reach Outlook's ItemSend, ItemAdd, Close and Click.
#pragma once

#include <oaidl.h>

#include <functional>

#include "adapters/outlook/com_support.h"
#include "host/events.h"

namespace vexa::outlook {

// The event interfaces and the DISPIDs of the one event each handles.
inline constexpr IID kIidApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID kIidItemsEvents = {0x00063077, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID kIidExplorerEvents = {0x0006304F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID kIidCommandBarButtonEvents = {0x000C0351, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr DISPID kDispidItemSend = 0xF002;
inline constexpr DISPID kDispidItemAdd = 0xF001;
inline constexpr DISPID kDispidExplorerClose = 0xF008;
inline constexpr DISPID kDispidClick = 1;

// Receives one event: its DISPID and its arguments as IDispatch passes them (last to first).
using EventHandler = std::function<void(DISPID id, DISPPARAMS& params)>;

// Advises a sink for `events` on `source`; fails with HostError when the object has no such
// connection point or refuses the advise. The sink holds itself, its handler and the current
// CallOwner for the length of every event it delivers, so a handler that ends its own
// subscription, or during whose dialog Outlook lets the owner go, runs to its end.
Subscription AdviseEvents(IDispatch* source, const IID& events, EventHandler handler);

// Names, for the length of a call, the COM object on whose behalf this thread runs (the add-in
// object in each of its methods). Sinks advised meanwhile keep that object alive while they
// deliver an event; they hold no reference between events, as the object owns their
// subscriptions and ends them before it goes. Scopes nest.
class CallOwner {
public:
    explicit CallOwner(IUnknown* owner);
    ~CallOwner();
    CallOwner(const CallOwner&) = delete;
    CallOwner& operator=(const CallOwner&) = delete;

private:
    IUnknown* previous_;
};

}  // namespace vexa::outlook
