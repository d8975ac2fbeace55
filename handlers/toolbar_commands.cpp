// The toolbar's four commands: Convert archives the selected message by hand; Options shows the
// options dialog; the indicator opens the archive with its associated viewer and resets the
// new-message face; Help starts the help program.

#include "addin/connect.h"
#include "addin/toolbar_faces.h"
#include "archive/archive_names.h"
#include "host/mail_item.h"

namespace vexa {
namespace {

constexpr std::int32_t kShellSuccessAbove = 32;

}  // namespace

void Connect::oCBtnConvert_Click(const CommandBarButtonPtr& /*Ctrl*/, bool& /*CancelDefault*/) {
    try {
        // The selection is fetched afresh for every look at it, as the window may change it.
        if (Deref(oExplorer->Selection()).Count() == 0) {
            MsgBox("No message selected!");
            return;
        }
        if (Deref(oExplorer->Selection()).Count() != 1) {
            MsgBox("Selected more than one message!");
            return;
        }
        if (Deref(Deref(oExplorer->Selection()).Item(1)).Class() != kOlMail) {
            MsgBox("Message is not correct type!");
            return;
        }
        const MailItemPtr mail = As<MailItem>(Deref(oExplorer->Selection()).Item(1));
        switch (TestJ2Message(mail, true, true)) {
            case MessageKind::mkIncoming:
                StoreInMessage(mail, false);
                break;
            case MessageKind::mkOutgoing:
                StoreOutMessage(mail);
                break;
            case MessageKind::mkConfirmation:
                StoreConfirm(mail, false);
                break;
            default:
                MsgBox("Message is not correct type!");
                break;
        }
    } catch (...) {
        MsgBox("No message selected!");
    }
}

void Connect::oCBtnOptions_Click(const CommandBarButtonPtr& /*Ctrl*/, bool& /*CancelDefault*/) {
    try {
        Options();
        // The dialog names no owner window, so the explorer can close while it is up and release
        // fOptions; the form stays alive until the dialog returns.
        const std::shared_ptr<frmOptions> shown = fOptions;
        platform_.dialogs.ShowModal(*shown);
    } catch (...) {
        MsgBox("Error in \"BtnOptions_Click\": " + CurrentErrorDescription());
    }
}

void Connect::oCBtnIndicator_Click(const CommandBarButtonPtr& /*Ctrl*/, bool& /*CancelDefault*/) {
    try {
        // Reset before opening, so the face stays reset when the viewer cannot start. Without a
        // toolbar there is no face to reset, and the command only opens the viewer.
        if (oCBtnIndicator) oCBtnIndicator->SetFaceId(kFaceIndicatorIdle);
        const std::string path = platform_.fileSystem.BuildPath(sAppPath, kArchiveFileName);
        if (platform_.shell.Open(path) <= kShellSuccessAbove) MsgBox("Can't open viewer!");
    } catch (...) {
        MsgBox("Error in \"BtnIndicator_Click\": " + CurrentErrorDescription());
    }
}

void Connect::oCBtnHelp_Click(const CommandBarButtonPtr& /*Ctrl*/, bool& /*CancelDefault*/) {
    try {
        const std::string path = platform_.fileSystem.BuildPath(sAppPath, platform_.helpFile);
        if (platform_.shell.Open(path) <= kShellSuccessAbove) MsgBox("Can't open help!");
    } catch (...) {
        MsgBox("Error in \"BtnHelp_Click\": " + CurrentErrorDescription());
    }
}

}  // namespace vexa
