// Event binding with the host's rule: holding a reference to an event source subscribes to its
// events, and assigning another object or nothing to that reference ends the old subscription.
// WithEvents<Source> is that reference; Subscription is the advise token it holds; EventSource
// is the connection point that host adapters embed to deliver events to their subscribers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "host/object.h"

namespace vexa {

// One advise: ends the subscription when destroyed or reassigned. Move-only.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> unadvise) : unadvise_(std::move(unadvise)) {}
    Subscription(Subscription&& other) noexcept : unadvise_(std::exchange(other.unadvise_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        Subscription old(std::move(*this));
        unadvise_ = std::exchange(other.unadvise_, nullptr);
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { Reset(); }

    // Ends the subscription now. A host that cannot unadvise any more (it is gone) is ignored:
    // dropping a reference never fails.
    void Reset() noexcept {
        if (auto unadvise = std::exchange(unadvise_, nullptr)) {
            try {
                unadvise();
            } catch (...) {
            }
        }
    }
    bool Active() const noexcept { return static_cast<bool>(unadvise_); }

private:
    std::function<void()> unadvise_;
};

// A reference to an event source that is subscribed while it holds an object.
// Source must name its sink interface as Source::Events and offer Advise(Events&) -> Subscription.
template <class Source>
class WithEvents {
public:
    using Sink = typename Source::Events;

    explicit WithEvents(Sink& sink) : sink_(&sink) {}
    WithEvents(const WithEvents&) = delete;
    WithEvents& operator=(const WithEvents&) = delete;

    // Subscribes to the new object first: if the host refuses, the assignment fails and the old
    // binding stays. Then the old subscription ends and the old object is released.
    WithEvents& operator=(std::shared_ptr<Source> object) {
        Subscription fresh;
        if (object) fresh = object->Advise(*sink_);
        subscription_ = std::move(fresh);
        object_ = std::move(object);
        return *this;
    }
    WithEvents& operator=(std::nullptr_t) {
        subscription_.Reset();
        object_.reset();
        return *this;
    }

    Source& operator*() const { return Deref(object_); }
    Source* operator->() const { return &Deref(object_); }
    const std::shared_ptr<Source>& Get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return static_cast<bool>(object_); }

private:
    Sink* sink_;
    std::shared_ptr<Source> object_;
    Subscription subscription_;
};

// The connection point of one event interface, for adapters. Delivery works on a snapshot of
// the subscribers, so a handler may end subscriptions (its own included) or release the source
// while the event is being raised; a subscriber that unadvised meanwhile is not called.
template <class Sink>
class EventSource {
public:
    Subscription Advise(Sink& sink) {
        auto entry = std::make_shared<Entry>(Entry{&sink, true});
        entries_->push_back(entry);
        std::weak_ptr<std::vector<std::shared_ptr<Entry>>> list = entries_;
        return Subscription([list, entry] {
            entry->live = false;
            if (auto entries = list.lock()) std::erase(*entries, entry);
        });
    }

    template <class Call>
    void Raise(Call&& call) {
        const auto snapshot = *entries_;
        for (const auto& entry : snapshot) {
            if (entry->live) call(*entry->sink);
        }
    }

    std::size_t SubscriberCount() const noexcept { return entries_->size(); }

private:
    struct Entry {
        Sink* sink;
        bool live;
    };
    std::shared_ptr<std::vector<std::shared_ptr<Entry>>> entries_ =
        std::make_shared<std::vector<std::shared_ptr<Entry>>>();
};

}  // namespace vexa
