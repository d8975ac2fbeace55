// The host's explorer window: its command bars, the items selected in it, and its Close event.
#pragma once

#include <cstdint>

#include "host/events.h"
#include "host/object.h"

namespace vexa {

class ExplorerEvents {
public:
    virtual ~ExplorerEvents() = default;
    virtual void Close() = 0;
};

class Selection : public Object {
public:
    virtual std::int32_t Count() = 0;
    virtual ItemPtr Item(std::int16_t index) = 0;
};

class Explorer : public Object {
public:
    using Events = ExplorerEvents;
    virtual Subscription Advise(ExplorerEvents& sink) = 0;

    virtual CommandBarsPtr CommandBars() = 0;
    virtual SelectionPtr Selection() = 0;
};

}  // namespace vexa
