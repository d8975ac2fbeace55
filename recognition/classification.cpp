// Recognition of the service's traffic: which kind a mail item is, and what a confirmation reports.

#include "recognition/classification.h"

#include "addin/connect.h"
#include "host/ascii_text.h"
#include "host/mail_item.h"

namespace vexa {
bool Contains(std::string_view text, std::string_view criterion) {
    if (text.empty() || criterion.empty()) return false;
    return FindIgnoringAsciiCase(text, criterion) != std::string_view::npos;
}

MessageKind Connect::TestJ2Message(const MailItemPtr& oMailItem, const bool& bTestSender, const bool& bTestRecipient) {
    MessageKind result = MessageKind::mkNone;
    try {
        if (bTestSender) {
            // One lookup serves both sender criteria; the incoming one wins when both match.
            const std::string sender = GetSafeSenderAddress(oMailItem);
            if (!sender.empty()) {
                if (Contains(sender, Options().tInCriteria.Text)) return MessageKind::mkIncoming;
                if (Contains(sender, Options().tConfirmCriteria.Text)) return MessageKind::mkConfirmation;
            }
        }
        if (bTestRecipient) {
            const std::string recipient = GetSafeRecipientAddress(oMailItem);
            if (!recipient.empty() && Contains(recipient, Options().tOutCriteria.Text)) return MessageKind::mkOutgoing;
        }
    } catch (...) {
        MsgBox("Error in \"TestJ2Message\": " + CurrentErrorDescription());
    }
    return result;
}

ConfirmOutcome Connect::TestConfirmMessage(const MailItemPtr& oMailItem) {
    ConfirmOutcome result = ConfirmOutcome::coNone;
    try {
        if (Contains(Deref(oMailItem).Subject(), kSuccessfulPhrase)) return ConfirmOutcome::coSuccessful;
        if (Contains(Deref(oMailItem).Subject(), kUnsuccessfulPhrase)) return ConfirmOutcome::coUnsuccessful;
    } catch (...) {
        MsgBox("Error in \"TestConfirmMessage\": " + CurrentErrorDescription());
    }
    return result;
}

}  // namespace vexa
