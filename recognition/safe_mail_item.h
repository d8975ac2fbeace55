// The mail-item wrapper, an outside component created anew for every address lookup. Handed a
// mail item, it answers with the item's sender and recipients without the host's security
// prompts. Each host adapter provides the factory; creation fails when the component is missing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/host_fwd.h"

namespace vexa {

inline constexpr const char* kSafeMailItemProgId = "CVMAPI.SafeMailItem";

class SafeAddress {
public:
    virtual ~SafeAddress() = default;
    virtual std::string Address() = 0;
};

class SafeRecipients {
public:
    virtual ~SafeRecipients() = default;
    virtual std::int32_t Count() = 0;
    virtual std::shared_ptr<SafeAddress> Item(std::int16_t index) = 0;
};

class SafeMailItem {
public:
    virtual ~SafeMailItem() = default;
    // From now on the wrapper answers for `item`.
    virtual void SetItem(const MailItemPtr& item) = 0;
    // The sender, or null when the item has none.
    virtual std::shared_ptr<SafeAddress> Sender() = 0;
    virtual std::shared_ptr<SafeRecipients> Recipients() = 0;
};

class SafeMailItemFactory {
public:
    virtual ~SafeMailItemFactory() = default;
    // Creates a new wrapper by its ProgID; fails with HostError when it is not registered.
    virtual std::shared_ptr<SafeMailItem> Create(const std::string& progId) = 0;
};

}  // namespace vexa
