// Archiving a fax on its way out: a send row marked "Unconfirmed", the tracking tag appended to
// the subject (the service quotes it back in its confirmation), and the document saved under the
// row's number. A fax that could not be archived is left as it was, its subject untagged.

#include "addin/connect.h"
#include "archive/archive_names.h"
#include "archive/mail_text.h"
#include "dialogs/frm_description.h"
#include "host/mail_item.h"

namespace vexa {

bool Connect::StoreOutMessage(const MailItemPtr& oMailItem) {
    std::string storedPath;
    std::optional<std::string> untaggedSubject;
    bool committed = false;
    // What a committed store wrote, for the report also when publishing the file then fails.
    std::int64_t storedRow = 0;
    std::string storedFile;
    try {
        MailItem& mail = Deref(oMailItem);
        const AttachmentsPtr attachments = mail.Attachments();
        AttachmentPtr attachment;
        std::string attachmentName;
        if (Deref(attachments).Count() >= 1) {
            attachment = attachments->Item(1);
            attachmentName = Deref(attachment).FileName();
        }

        std::string description = kNoDescription;
        if (Options().chDescription.Value == 1) {
            description = OpenDescription();
            if (description.empty()) {
                Reported({MessageKind::mkOutgoing, StoreOutcome::Cancelled, 0, {}});
                return false;
            }
        } else if (auto given = DescriptionGivenInAdvance()) {
            description = std::move(*given);
        }
        const std::string number = FaxNumber(GetSafeRecipientAddress(oMailItem));
        const std::string subject = mail.Subject();

        ArchiveConnection& archive = Deref(oConn);
        ArchiveTransaction transaction(archive);
        const auto row = archive.OpenTable(kSendTable);
        row->AddNew();
        // A message being sent has no received time yet; the row is dated when it is archived.
        const LocalDateTime received = mail.ReceivedTime();
        row->SetField("Date", received.IsNone() ? CurrentLocalTime() : received);
        row->SetField("Number", LeftCharacters(number, kTextColumnWidth));
        row->SetField("Subject", LeftCharacters(subject, kTextColumnWidth));
        row->SetField("Description", LeftCharacters(description, kTextColumnWidth));
        row->SetField("FileName", LeftCharacters(attachmentName, kTextColumnWidth));
        row->SetField("FileId", std::string());
        row->SetField("Confirm", std::string("Unconfirmed"));
        row->Update();

        const std::int64_t id = row->Id();
        untaggedSubject = subject;
        mail.SetSubject(subject + TrackingTag(id));
        std::string fileId;
        if (attachment) {
            fileId = StoredFileName('S', id, attachmentName);
            storedPath = SaveAttachment(*attachment, fileId);
            row->SetField("FileId", fileId);
            row->Update();
        }
        transaction.Commit();
        committed = true;
        storedRow = id;
        storedFile = fileId;
        if (!storedPath.empty()) PublishFile(storedPath);
        Reported({MessageKind::mkOutgoing, StoreOutcome::Stored, storedRow, storedFile});
        return true;
    } catch (...) {
        const std::string description = CurrentErrorDescription();
        if (committed) {
            // The row and the tag stand and the fax goes out; the file keeps its pending name
            // until the next start-up gives it its own.
            MsgBox("Error in \"StoreOutMessage\": " + description);
            Reported({MessageKind::mkOutgoing, StoreOutcome::Stored, storedRow, storedFile});
            return true;
        }
        DiscardFile(storedPath);
        // The send is stopped; a resend must carry one tag, not two.
        if (untaggedSubject) {
            try {
                oMailItem->SetSubject(*untaggedSubject);
            } catch (...) {
            }
        }
        MsgBox("Error in \"StoreOutMessage\": " + description);
        Reported({MessageKind::mkOutgoing, StoreOutcome::Failed, 0, {}});
        return false;
    }
}

}  // namespace vexa
