// Taking an archived message out of the Inbox: into the store folder under the Inbox (created
// the first time) or, when the user chose not to keep copies, deleted.

#include "addin/connect.h"
#include "host/folder.h"
#include "host/mail_item.h"

namespace vexa {

void Connect::CleanInbox(const MailItemPtr& oMailItem) {
    try {
        frmOptions& options = Options();
        if (!options.rbStore.Value) {
            Deref(oMailItem).Delete();
            return;
        }
        const std::string folderName = options.tFolder.Text;
        if (folderName.empty()) return;
        const MAPIFolderPtr inbox = Deref(oNameSpace).GetDefaultFolder(kOlFolderInbox);
        const FoldersPtr folders = Deref(inbox).Folders();
        MAPIFolderPtr folder;
        try {
            folder = Deref(folders).Item(folderName);
        } catch (...) {
            // Not there (or not readable): it is created below.
        }
        if (!folder) folder = Deref(folders).Add(folderName);
        Deref(oMailItem).Move(folder);
    } catch (...) {
        MsgBox("Error in \"CleanInbox\": " + CurrentErrorDescription());
        // Marked read, the message no longer looks new to the user or to the next arrival.
        try {
            Deref(oMailItem).SetUnRead(false);
        } catch (...) {
        }
    }
}

}  // namespace vexa
