#include "apps/corvane/safe_mail_item.h"

#include <string>

#include "host/host_error.h"

namespace vexa::com {
namespace {

using outlook::ComPtr;
using outlook::DispatchObject;
using outlook::LateBound;
using outlook::Variant;

enum Member : DISPID { kItem = 1, kSender = 2, kRecipients = 3 };

// The SMTP address of an Exchange address entry where Outlook can tell it (2007 and later);
// otherwise the address as Outlook gives it.
std::string SmtpAddress(const LateBound& entry, std::string address) {
    try {
        if (entry.Get(L"Type").AsText() != "EX") return address;
        const ComPtr<IDispatch> user = entry.Call(L"GetExchangeUser").AsObject();
        if (!user) return address;
        const std::string smtp = LateBound(user).Get(L"PrimarySmtpAddress").AsText();
        return smtp.empty() ? address : smtp;
    } catch (const HostError&) {
        return address;  // an older Outlook: the Exchange address is all there is
    }
}

class AddressObject final : public DispatchObject {
public:
    explicit AddressObject(std::string address) : address_(std::move(address)) {}

protected:
    const std::vector<const wchar_t*>& Members() const override {
        static const std::vector<const wchar_t*> members{L"Address"};
        return members;
    }
    Variant Answer(DISPID, WORD, const std::vector<const VARIANT*>&) override { return Variant::Text(address_); }

private:
    std::string address_;
};

class RecipientsObject final : public DispatchObject {
public:
    explicit RecipientsObject(ComPtr<IDispatch> recipients) : recipients_(std::move(recipients)) {}

protected:
    const std::vector<const wchar_t*>& Members() const override {
        static const std::vector<const wchar_t*> members{L"Count", L"Item"};
        return members;
    }
    Variant Answer(DISPID id, WORD, const std::vector<const VARIANT*>& arguments) override {
        if (id == 1) return Variant::Int32(recipients_.Get(L"Count").AsInt32());
        if (arguments.size() != 1) throw HostError(450, "Wrong number of arguments or invalid property assignment");
        Variant index;
        if (FAILED(::VariantCopy(&index.Raw(), const_cast<VARIANT*>(arguments[0])))) throw error::TypeMismatch();
        const LateBound recipient(recipients_.Call(L"Item", {Variant::Int16(static_cast<std::int16_t>(index.AsInt32()))})
                                      .AsObject());
        std::string address = recipient.Get(L"Address").AsText();
        if (const ComPtr<IDispatch> entry = recipient.Get(L"AddressEntry").AsObject()) {
            address = SmtpAddress(LateBound(entry), address);
        }
        // Create hands out a reference; the Variant takes its own, and this one goes at return.
        const auto object = ComPtr<IDispatch>::Adopt(Create<AddressObject>(std::move(address)));
        return Variant::Object(object.Get());
    }

private:
    LateBound recipients_;
};

}  // namespace

const std::vector<const wchar_t*>& SafeMailItemObject::Members() const {
    static const std::vector<const wchar_t*> members{L"Item", L"Sender", L"Recipients"};
    return members;
}

Variant SafeMailItemObject::Answer(DISPID id, WORD flags, const std::vector<const VARIANT*>& arguments) {
    if (id == kItem) {
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            if (arguments.size() != 1) throw HostError(450, "Wrong number of arguments or invalid property assignment");
            Variant value;
            if (FAILED(::VariantCopy(&value.Raw(), const_cast<VARIANT*>(arguments[0])))) throw error::TypeMismatch();
            item_ = value.AsObject();
            return {};
        }
        return Variant::Object(item_.Get());
    }
    const LateBound item(item_);
    if (id == kSender) {
        std::string address = item.Get(L"SenderEmailAddress").AsText();
        if (address.empty()) return {};  // Nothing: the item has no sender
        try {
            if (item.Get(L"SenderEmailType").AsText() == "EX") {
                if (const ComPtr<IDispatch> sender = item.Get(L"Sender").AsObject()) {
                    address = SmtpAddress(LateBound(sender), address);
                }
            }
        } catch (const HostError&) {
            // Outlook versions without these members give the address as it is.
        }
        auto object = ComPtr<IDispatch>::Adopt(Create<AddressObject>(std::move(address)));
        return Variant::Object(object.Get());
    }
    auto recipients = ComPtr<IDispatch>::Adopt(Create<RecipientsObject>(item.Get(L"Recipients").AsObject()));
    return Variant::Object(recipients.Get());
}

}  // namespace vexa::com
