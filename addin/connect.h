// The add-in object. The host creates one, connects it, and from then on calls into it only
// through the events it subscribed to; it holds all of the add-in's state, and every handler,
// command and store procedure is one of its methods, defined in the folder of its subsystem.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "addin/platform.h"
#include "archive/archive_engine.h"
#include "archive/store_listener.h"
#include "archive/store_outcome.h"
#include "dialogs/frm_options.h"
#include "host/addin_connection.h"
#include "host/application.h"
#include "host/command_bars.h"
#include "host/events.h"
#include "host/explorer.h"
#include "host/folder.h"
#include "recognition/classification.h"

namespace vexa {

class Connect final : public AddinConnection,
                      private ApplicationEvents,
                      private ItemsEvents,
                      private ExplorerEvents {
public:
    explicit Connect(const Platform& platform);
    ~Connect() override;
    Connect(const Connect&) = delete;
    Connect& operator=(const Connect&) = delete;

    // The add-in connection, as the host calls it.
    void OnConnection(const ObjectPtr& application, ConnectMode connectMode, const ObjectPtr& addInInst,
                      CustomArgs& custom) override;
    void OnDisconnection(DisconnectMode removeMode, CustomArgs& custom) override;
    void OnAddInsUpdate(CustomArgs& custom) override;
    void OnStartupComplete(CustomArgs& custom) override;
    // Not handled: shutdown work happens at the explorer's close and the disconnection.
    void OnBeginShutdown(CustomArgs& custom) override;

    void AddinInstance_OnConnection(const ObjectPtr& Application, ConnectMode ConnectMode,
                                    const ObjectPtr& AddInInst, CustomArgs& custom);
    void AddinInstance_OnDisconnection(DisconnectMode RemoveMode, CustomArgs& custom);
    void AddinInstance_OnStartupComplete(CustomArgs& custom);
    void AddinInstance_OnAddInsUpdate(CustomArgs& custom);

    // Public string function: the text of Buffer before its first NUL; Buffer is left unchanged.
    std::string StringFromBuffer(const std::string& Buffer) const;
    // Asks for a fax's description: the text, "(no description)", or "" when the user cancelled.
    std::string OpenDescription();
    // The description the user gave in advance, "(no description)" for an empty one; nothing
    // when none was given. Stored when the options do not ask for one.
    std::optional<std::string> DescriptionGivenInAdvance();
    // One address of a mail item, or "" when there is none or it cannot be read; never fails.
    std::string GetReplyToAddress(const MailItemPtr& oMailItem);
    std::string GetSafeSenderAddress(const MailItemPtr& oMailItem);
    std::string GetSafeRecipientAddress(const MailItemPtr& oMailItem);

    // The add-in's own procedures, which its handlers and commands call. Public so that each
    // subsystem can be driven on its own.
    MessageKind TestJ2Message(const MailItemPtr& oMailItem, const bool& bTestSender, const bool& bTestRecipient);
    ConfirmOutcome TestConfirmMessage(const MailItemPtr& oMailItem);
    // Runs one statement and returns the rows it changed; 0 after a failure, which it reports.
    std::int32_t RunBulkOpQuery(const std::string& strSQL, const std::vector<FieldValue>& parameters = {});
    // The live options: the one options dialog, created and loaded on first use.
    frmOptions& Options();
    // The store procedures and Inbox cleaning; each reports its own failures, and each store
    // procedure tells the platform's store listener, if any, what it did.
    StoreOutcome StoreInMessage(const MailItemPtr& oMailItem, const bool& bAutomatic);
    bool StoreOutMessage(const MailItemPtr& oMailItem);
    StoreOutcome StoreConfirm(const MailItemPtr& oMailItem, const bool& bAutomatic);
    void CleanInbox(const MailItemPtr& oMailItem);

    // The toolbar's commands. A host without a toolbar (the Linux command) runs them directly.
    void oCBtnConvert_Click(const CommandBarButtonPtr& Ctrl, bool& CancelDefault);
    void oCBtnOptions_Click(const CommandBarButtonPtr& Ctrl, bool& CancelDefault);
    void oCBtnIndicator_Click(const CommandBarButtonPtr& Ctrl, bool& CancelDefault);
    void oCBtnHelp_Click(const CommandBarButtonPtr& Ctrl, bool& CancelDefault);

    // The close of the explorer window: saves the toolbar's place and releases every host
    // reference. A host without a window (the Linux command) calls it when it shuts down.
    void oExplorer_Close();

    // Read-only views of the state, for the host adapters and the tests.
    bool Initialized() const noexcept { return bInitialized; }
    // Why it is not: the start failed for a reason that may pass (the archive's server out of
    // reach), so trying again later may succeed.
    bool StartFailureMayPass() const noexcept { return startFailureMayPass_; }
    const std::string& AppPath() const noexcept { return sAppPath; }
    bool HasArchiveConnection() const noexcept { return static_cast<bool>(oConn); }
    // For each stored file name (as StoredFileName makes them), whether a committed row names
    // it: how a host that lost track of a commit (a crash, an error at the commit) reads its
    // outcome back. Changes nothing. Throws HostError when the archive cannot answer.
    std::vector<bool> StoredFilesCommitted(const std::vector<std::string>& fileIds);

private:
    // Forwards one button's Click to its handler; each button reference has its own.
    class ClickSink final : public CommandBarButtonEvents {
    public:
        using Handler = void (Connect::*)(const CommandBarButtonPtr&, bool&);
        ClickSink(Connect& owner, Handler handler) : owner_(owner), handler_(handler) {}
        void Click(const CommandBarButtonPtr& ctrl, bool& cancelDefault) override {
            (owner_.*handler_)(ctrl, cancelDefault);
        }

    private:
        Connect& owner_;
        Handler handler_;
    };

    // Event sinks (ApplicationEvents, ItemsEvents, ExplorerEvents).
    void ItemSend(const ItemPtr& item, bool& cancel) override { oApp_ItemSend(item, cancel); }
    void ItemAdd(const ItemPtr& item) override { oInboxItems_ItemAdd(item); }
    void Close() override { oExplorer_Close(); }

    // Start-up.
    void ConnectPhase1(const ObjectPtr& Application);
    void ConnectPhase2();
    std::string LookUpInstallFolder();
    bool OpenRegKey(RegKey hKey, const std::string& lpSubKey, RegKey& phkResult);
    bool QueryRegString(RegKey hKey, const std::string* strValueName, std::string& strValue);
    bool CloseRegKey(RegKey hKey);

    // Toolbar.
    void BuildToolbar();
    void SaveBarPosition();

    // Event handlers.
    void oApp_ItemSend(const ItemPtr& Item, bool& Cancel);
    void oInboxItems_ItemAdd(const ItemPtr& Item);

    // Runs a statement; a failure is shown and gives nothing, and lastFailureTransient_ says
    // whether it is worth trying again later.
    std::optional<std::int32_t> ExecuteReported(const std::string& strSQL, const std::vector<FieldValue>& parameters);
    // Saves the attachment, flushed to disk, under the pending form of its stored name `fileId` in
    // the Attach folder; returns that path. Never overwrites a stored file, and leaves no file
    // behind when it fails.
    std::string SaveAttachment(Attachment& attachment, const std::string& fileId);
    // After the commit: the pending file takes its stored name.
    void PublishFile(const std::string& pendingPath);
    void DiscardFile(const std::string& path) noexcept;
    // At start-up: pending files left by a crash are named (their row was committed) or removed.
    void RecoverPendingFiles() noexcept;

    // Shows a message box with the add-in's title.
    void MsgBox(const std::string& text);
    // Tells the platform's store listener, if there is one, what a store procedure did; returns
    // the outcome, so that a procedure reports where it returns.
    StoreOutcome Reported(const StoreReport& report) noexcept {
        if (platform_.storeListener) platform_.storeListener->Stored(report);
        return report.outcome;
    }

    Platform platform_;
    ClickSink optionsClick_{*this, &Connect::oCBtnOptions_Click};
    ClickSink convertClick_{*this, &Connect::oCBtnConvert_Click};
    ClickSink indicatorClick_{*this, &Connect::oCBtnIndicator_Click};
    ClickSink helpClick_{*this, &Connect::oCBtnHelp_Click};

    // The add-in's fields.
    // Shared, so that the dialog on screen outlives the explorer's close releasing it.
    std::shared_ptr<frmOptions> fOptions;
    CommandBarsPtr oCBars;
    CommandBarPtr oCBar;
    NameSpacePtr oNameSpace;
    std::unique_ptr<ArchiveConnection> oConn;
    std::string sAppPath;
    bool bInitialized = false;
    bool lastFailureTransient_ = false;
    bool startFailureMayPass_ = false;

    // The event-bound references: holding an object subscribes to its events.
    WithEvents<Application> oApp{static_cast<ApplicationEvents&>(*this)};
    WithEvents<CommandBarButton> oCBtnOptions{optionsClick_};
    WithEvents<CommandBarButton> oCBtnConvert{convertClick_};
    WithEvents<CommandBarButton> oCBtnIndicator{indicatorClick_};
    WithEvents<CommandBarButton> oCBtnHelp{helpClick_};
    WithEvents<Explorer> oExplorer{static_cast<ExplorerEvents&>(*this)};
    WithEvents<Items> oInboxItems{static_cast<ItemsEvents&>(*this)};
};

}  // namespace vexa
