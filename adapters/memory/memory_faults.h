// Fault injection for the memory host: every host operation that can fail in the real host can
// be made to fail here, once, several times or always, so each failure path of the add-in can be
// tested. One plan is shared by all objects of a memory session.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "host/host_error.h"

namespace vexa::memory {

enum class HostOp {
    CreateApplication,  // a second application object reaching the same session
    GetNamespace,
    Session,
    GetDefaultFolder,
    FolderItems,
    FoldersItem,
    FoldersAdd,
    AdviseItems,
    AdviseApplication,
    ExplorerCommandBars,
    ExplorerSelection,
    AdviseExplorer,
    CommandBarsAdd,  // the host refusing the toolbar
    BarGetProperty,  // reading Top, Left, Position, RowIndex or Visible
    BarSetTop,
    BarSetLeft,
    BarSetPosition,
    BarSetRowIndex,
    BarSetVisible,
    BarControls,
    ControlsAdd,
    ButtonSetProperty,  // Style, FaceId, Caption, TooltipText, Tag or Enabled
    AdviseButton,
    ItemClass,
    ItemUnRead,
    MailSubject,
    MailSetSubject,
    MailBody,
    MailReceivedTime,
    MailSetUnRead,
    MailAttachments,
    MailRecipients,
    MailReply,
    MailMove,
    MailDelete,
    AttachmentSaveAsFile,
    // The memory archive engine's operations.
    ArchiveOpenTable,
    ArchiveSetField,
    ArchiveUpdate,
    ArchiveExecute,
    ArchiveBeginTrans,
    ArchiveCommitTrans,
    ArchiveClose,
};

class FaultPlan {
public:
    static constexpr int kAlways = -1;

    // Makes the next `times` calls of `op` fail with `failure` (the host's generic failure when
    // none is given); kAlways keeps it failing until Clear.
    void Fail(HostOp op, int times = kAlways, std::optional<HostError> failure = std::nullopt);
    // Lets the next `succeed` calls of `op` through, then fails it as Fail does.
    void FailAfter(HostOp op, int succeed, int times = kAlways, std::optional<HostError> failure = std::nullopt);
    void Clear(HostOp op) { armed_.erase(op); }

    // Called by every memory object at the start of an operation: throws when it is armed.
    void Check(HostOp op);

    // How many times `op` was attempted, failed or not.
    int Calls(HostOp op) const;

    // The host's generic failure of an automation call.
    static HostError GenericFailure();

private:
    struct Armed {
        int skip;
        int remaining;
        HostError failure;
    };
    std::map<HostOp, Armed> armed_;
    std::map<HostOp, int> calls_;
};

}  // namespace vexa::memory
