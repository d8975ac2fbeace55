// The core's mail-item wrapper on Windows: "CVMAPI.SafeMailItem" created by ProgID for every
// lookup and called by name, handed the Outlook item behind the core's mail item.
#pragma once

#include "recognition/safe_mail_item.h"

namespace vexa::outlook {

class ComSafeMailItemFactory final : public SafeMailItemFactory {
public:
    std::shared_ptr<SafeMailItem> Create(const std::string& progId) override;
};

}  // namespace vexa::outlook
