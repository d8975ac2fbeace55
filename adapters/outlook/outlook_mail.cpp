#include "adapters/outlook/outlook_mail.h"

#include <cmath>

#include "adapters/outlook/outlook_host.h"
#include "host/host_error.h"

namespace vexa::outlook {
namespace {

// 1 January 4501 as an automation date: what Outlook reports as the time of an item without one.
constexpr DATE kOutlookNoDate = 949998.0;

class OutlookAddressEntry final : public AddressEntry {
public:
    explicit OutlookAddressEntry(ComPtr<IDispatch> entry) : entry_(std::move(entry)) {}
    std::string Address() override { return entry_.Get(L"Address").AsText(); }

private:
    LateBound entry_;
};

class OutlookRecipient final : public Recipient {
public:
    explicit OutlookRecipient(ComPtr<IDispatch> recipient) : recipient_(std::move(recipient)) {}
    std::string Address() override { return recipient_.Get(L"Address").AsText(); }
    AddressEntryPtr AddressEntry() override {
        const ComPtr<IDispatch> entry = recipient_.Get(L"AddressEntry").AsObject();
        if (!entry) return nullptr;
        return std::make_shared<OutlookAddressEntry>(entry);
    }
    std::string Name() override { return recipient_.Get(L"Name").AsText(); }

private:
    LateBound recipient_;
};

class OutlookRecipients final : public Recipients {
public:
    explicit OutlookRecipients(ComPtr<IDispatch> recipients) : recipients_(std::move(recipients)) {}
    std::int32_t Count() override { return recipients_.Get(L"Count").AsInt32(); }
    RecipientPtr Item(std::int16_t index) override {
        return std::make_shared<OutlookRecipient>(recipients_.Call(L"Item", {Variant::Int16(index)}).AsObject());
    }

private:
    LateBound recipients_;
};

class OutlookAttachment final : public Attachment {
public:
    explicit OutlookAttachment(ComPtr<IDispatch> attachment) : attachment_(std::move(attachment)) {}
    std::string FileName() override { return attachment_.Get(L"FileName").AsText(); }
    void SaveAsFile(const std::string& path) override { attachment_.Call(L"SaveAsFile", {Variant::Text(path)}); }

private:
    LateBound attachment_;
};

class OutlookAttachments final : public Attachments {
public:
    explicit OutlookAttachments(ComPtr<IDispatch> attachments) : attachments_(std::move(attachments)) {}
    std::int32_t Count() override { return attachments_.Get(L"Count").AsInt32(); }
    AttachmentPtr Item(std::int16_t index) override {
        return std::make_shared<OutlookAttachment>(attachments_.Call(L"Item", {Variant::Int16(index)}).AsObject());
    }

private:
    LateBound attachments_;
};

}  // namespace

std::int32_t OutlookMailItem::Class() { return item_.Get(L"Class").AsInt32(); }

std::optional<bool> OutlookMailItem::UnRead() {
    const Variant unread = item_.Get(L"UnRead");
    if (unread.Raw().vt == VT_NULL || unread.Raw().vt == VT_EMPTY) return std::nullopt;
    return unread.AsBool();
}

std::string OutlookMailItem::Subject() { return item_.Get(L"Subject").AsText(); }

void OutlookMailItem::SetSubject(const std::string& subject) { item_.Put(L"Subject", Variant::Text(subject)); }

std::string OutlookMailItem::Body() { return item_.Get(L"Body").AsText(); }

LocalDateTime OutlookMailItem::ReceivedTime() {
    Variant received = item_.Get(L"ReceivedTime");
    if (received.Raw().vt == VT_EMPTY || received.Raw().vt == VT_NULL) return LocalDateTime::None();
    VARIANT date;
    ::VariantInit(&date);
    if (FAILED(::VariantChangeType(&date, &received.Raw(), 0, VT_DATE))) throw error::TypeMismatch();
    // An item that has not been sent reports Outlook's "none" date, 1 January 4501.
    if (date.date == kOutlookNoDate) return LocalDateTime::None();
    SYSTEMTIME time{};
    // Outlook reports local time already; the conversion only splits the automation date.
    if (!::VariantTimeToSystemTime(date.date, &time)) throw error::TypeMismatch();
    return LocalDateTime{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

void OutlookMailItem::SetUnRead(bool unread) { item_.Put(L"UnRead", Variant::Bool(unread)); }

AttachmentsPtr OutlookMailItem::Attachments() {
    return std::make_shared<OutlookAttachments>(item_.Get(L"Attachments").AsObject());
}

RecipientsPtr OutlookMailItem::Recipients() {
    return std::make_shared<OutlookRecipients>(item_.Get(L"Recipients").AsObject());
}

MailItemPtr OutlookMailItem::Reply() { return WrapMailItem(item_.Call(L"Reply").AsObject().Get()); }

MailItemPtr OutlookMailItem::Move(const MAPIFolderPtr& folder) {
    IDispatch* target = DispatchOf(folder);
    if (!target) throw error::TypeMismatch();
    return WrapMailItem(item_.Call(L"Move", {Variant::Object(target)}).AsObject().Get());
}

void OutlookMailItem::Delete() { item_.Call(L"Delete"); }

MailItemPtr WrapMailItem(IDispatch* item) {
    if (!item) return nullptr;
    return std::make_shared<OutlookMailItem>(ComPtr<IDispatch>::Retain(item));
}

}  // namespace vexa::outlook
