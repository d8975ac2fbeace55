// A host collection over the items it was made with, for adapters whose collections are read
// whole: Item counts from 1 as the object model's collections do, and an index outside them fails
// as the object model fails it.
#pragma once

#include <cstdint>
#include <vector>

#include "host/host_error.h"

namespace vexa {

// The object model's failure for an index outside a 1-based collection (DISP_E_BADINDEX).
inline HostError IndexOutOfBounds() {
    return HostError(static_cast<std::int32_t>(0x8002000Bu), "Array index out of bounds.");
}

// Interface is the collection's host interface (Attachments, Recipients), Element its item pointer.
template <class Interface, class Element>
class ItemList final : public Interface {
public:
    explicit ItemList(std::vector<Element> items) : items_(std::move(items)) {}
    std::int32_t Count() override { return static_cast<std::int32_t>(items_.size()); }
    Element Item(std::int16_t index) override {
        if (index < 1 || index > Count()) throw IndexOutOfBounds();
        return items_[static_cast<std::size_t>(index - 1)];
    }

private:
    std::vector<Element> items_;
};

}  // namespace vexa
