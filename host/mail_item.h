// A mail item of the host and the parts of it the add-in reads: attachments, recipients and the
// reply it would build. Collection indices start at 1 and are 16-bit, as the host passes them.
// Every member may fail with HostError (the host refusing the call).
#pragma once

#include <cstdint>
#include <string>

#include "host/date_time.h"
#include "host/object.h"

namespace vexa {

class Attachment : public Object {
public:
    virtual std::string FileName() = 0;
    // Writes the attachment's decoded content to `path`; fails when the folder is missing.
    virtual void SaveAsFile(const std::string& path) = 0;
};

class Attachments : public Object {
public:
    virtual std::int32_t Count() = 0;
    virtual AttachmentPtr Item(std::int16_t index) = 0;
};

class AddressEntry : public Object {
public:
    virtual std::string Address() = 0;
};

class Recipient : public Object {
public:
    virtual std::string Address() = 0;
    virtual AddressEntryPtr AddressEntry() = 0;
    virtual std::string Name() = 0;
};

class Recipients : public Object {
public:
    virtual std::int32_t Count() = 0;
    virtual RecipientPtr Item(std::int16_t index) = 0;
};

class MailItem : public Item {
public:
    virtual std::string Subject() = 0;
    // A subject written while the item is being sent goes out with the message.
    virtual void SetSubject(const std::string& subject) = 0;
    virtual std::string Body() = 0;
    virtual LocalDateTime ReceivedTime() = 0;
    virtual void SetUnRead(bool unread) = 0;
    virtual AttachmentsPtr Attachments() = 0;
    virtual RecipientsPtr Recipients() = 0;
    // A new, unsaved reply addressed as the host would address it; never shown or sent.
    virtual MailItemPtr Reply() = 0;
    // Moves the item into `folder` and returns the item in its new place.
    virtual MailItemPtr Move(const MAPIFolderPtr& folder) = 0;
    virtual void Delete() = 0;
    // The Message-ID the mail arrived with, without its angle brackets; "" when it has none or
    // the host does not tell. It finds a fax delivered to several mailboxes of one office.
    virtual std::string InternetMessageId() { return ""; }
};

}  // namespace vexa
