// The sender, first recipient and reply address of a mail item, each reduced to one string. The
// sender and recipient come from the mail-item wrapper, which a new object answers on every call.
// No failure is ever reported: a caller cannot tell it from an item without that address.

#include "addin/connect.h"
#include "host/mail_item.h"

namespace vexa {

std::string Connect::GetReplyToAddress(const MailItemPtr& oMailItem) {
    try {
        // The reply is never shown, saved or sent; dropping it at return discards it.
        const MailItemPtr reply = Deref(oMailItem).Reply();
        const RecipientsPtr recipients = Deref(reply).Recipients();
        if (Deref(recipients).Count() == 0) return "";
        const RecipientPtr recipient = recipients->Item(1);
        std::string result = Deref(recipient).Address();
        if (result.empty()) {
            // A recipient without an address entry has no entry address either.
            const AddressEntryPtr entry = recipient->AddressEntry();
            if (entry) result = entry->Address();
        }
        if (result.empty()) result = recipient->Name();
        return result;
    } catch (...) {
        return "";
    }
}

std::string Connect::GetSafeSenderAddress(const MailItemPtr& oMailItem) {
    try {
        const auto wrapper = platform_.safeMailItems.Create(kSafeMailItemProgId);
        Deref(wrapper).SetItem(oMailItem);
        const auto sender = wrapper->Sender();
        if (!sender) return "";
        return sender->Address();
    } catch (...) {
        return "";
    }
}

std::string Connect::GetSafeRecipientAddress(const MailItemPtr& oMailItem) {
    try {
        const auto wrapper = platform_.safeMailItems.Create(kSafeMailItemProgId);
        Deref(wrapper).SetItem(oMailItem);
        const auto recipients = wrapper->Recipients();
        if (Deref(recipients).Count() == 0) return "";
        return Deref(recipients->Item(1)).Address();
    } catch (...) {
        return "";
    }
}

}  // namespace vexa
