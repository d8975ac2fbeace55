// Archiving a received fax or voice message: a recv row, the first attachment saved under the
// row's number in the Attach folder, and the service's reference number taken from the text.
// All or nothing: the row is committed only once the file is on disk, the file takes its name
// only once the row is committed, and a failure leaves neither row nor file.

#include "addin/connect.h"
#include "addin/toolbar_faces.h"
#include "archive/archive_names.h"
#include "archive/mail_text.h"
#include "dialogs/frm_description.h"
#include "host/mail_item.h"

namespace vexa {

StoreOutcome Connect::StoreInMessage(const MailItemPtr& oMailItem, const bool& bAutomatic) {
    std::string storedPath;
    bool committed = false;
    // What a committed store wrote, for the report also when publishing the file then fails (or
    // when the commit's outcome is unknown).
    std::int64_t storedRow = 0;
    std::string storedFile;
    try {
        MailItem& mail = Deref(oMailItem);
        const AttachmentsPtr attachments = mail.Attachments();
        if (Deref(attachments).Count() == 0) {
            MsgBox("Incoming message does not contain an attachment!");
            return Reported({MessageKind::mkIncoming, StoreOutcome::Failed, 0, {}});
        }
        const AttachmentPtr attachment = attachments->Item(1);
        const std::string attachmentName = Deref(attachment).FileName();

        std::string description = kNoDescription;
        if (bAutomatic) {
            // A host without a toolbar has no indicator to light; the fax is archived all the same.
            if (oCBtnIndicator) oCBtnIndicator->SetFaceId(kFaceIndicatorNew);
        } else if (Options().chDescription.Value == 1) {
            description = OpenDescription();
            if (description.empty()) return Reported({MessageKind::mkIncoming, StoreOutcome::Cancelled, 0, {}});
        } else if (auto given = DescriptionGivenInAdvance()) {
            description = std::move(*given);
        }
        const std::string number = ReferenceNumber(mail.Body());

        ArchiveConnection& archive = Deref(oConn);
        ArchiveTransaction transaction(archive);
        const std::string messageId = archive.RecordsMessageIds() ? mail.InternetMessageId() : std::string();
        if (!messageId.empty()) {
            if (const auto held = archive.RowOfMessage(kRecvTable, messageId)) {
                return Reported({MessageKind::mkIncoming, StoreOutcome::Stored, *held, {}, false, false, true});
            }
        }
        const auto row = archive.OpenTable(kRecvTable);
        row->AddNew();
        row->SetField("Date", mail.ReceivedTime());
        row->SetField("Number", LeftCharacters(number, kTextColumnWidth));
        row->SetField("Subject", LeftCharacters(mail.Subject(), kTextColumnWidth));
        row->SetField("Description", LeftCharacters(description, kTextColumnWidth));
        row->SetField("FileName", LeftCharacters(attachmentName, kTextColumnWidth));
        row->SetField("FileId", std::string());
        row->SetField("New", true);
        if (!messageId.empty()) row->SetField("message_id", messageId);
        row->Update();

        const std::string fileId = StoredFileName('R', row->Id(), attachmentName);
        storedPath = SaveAttachment(*attachment, fileId);
        row->SetField("FileId", fileId);
        row->Update();
        storedRow = row->Id();
        storedFile = fileId;
        transaction.Commit();
        committed = true;
        PublishFile(storedPath);
        return Reported({MessageKind::mkIncoming, StoreOutcome::Stored, storedRow, storedFile});
    } catch (...) {
        const std::string description = CurrentErrorDescription();
        const bool transient = CurrentErrorTransient();
        const bool unknown = !committed && CurrentErrorOutcomeUnknown();
        // Once the row is committed the fax is archived: its file keeps its pending name until
        // the next start-up gives it its own, and the mail must not be archived a second time.
        if (!committed) DiscardFile(storedPath);
        MsgBox("Error in \"StoreInMessage\": " + description);
        if (committed) return Reported({MessageKind::mkIncoming, StoreOutcome::Stored, storedRow, storedFile});
        if (unknown) return Reported({MessageKind::mkIncoming, StoreOutcome::Failed, storedRow, storedFile, true, true});
        return Reported({MessageKind::mkIncoming, StoreOutcome::Failed, 0, {}, transient});
    }
}

}  // namespace vexa
