// The mail-item wrapper "CVMAPI.SafeMailItem", a second class of the module: handed an Outlook
// mail item (Item, by value), it answers with the sender (Sender, Nothing when there is none) and
// the recipients (Recipients: Count, Item(1-based)), each with an Address. For Exchange senders
// and recipients it gives the SMTP address where the Outlook version offers one.
#pragma once

#include <guiddef.h>

#include "adapters/outlook/dispatch_object.h"

namespace vexa::com {

// {DAE9225F-D378-4B72-915B-0B8A7DCA4E46}
inline constexpr GUID kClsidSafeMailItem = {0xDAE9225F, 0xD378, 0x4B72, {0x91, 0x5B, 0x0B, 0x8A, 0x7D, 0xCA, 0x4E, 0x46}};

class SafeMailItemObject final : public outlook::DispatchObject {
protected:
    const std::vector<const wchar_t*>& Members() const override;
    outlook::Variant Answer(DISPID id, WORD flags, const std::vector<const VARIANT*>& arguments) override;

private:
    outlook::ComPtr<IDispatch> item_;
};

}  // namespace vexa::com
