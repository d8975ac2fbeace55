// Shutdown in its two independent steps: the disconnection closes the archive; the explorer's
// close saves the toolbar's place and releases every host reference.

#include <gtest/gtest.h>

#include "settings/setting_names.h"
#include "tests/support/harness.h"

namespace vexa::testing {
namespace {

const std::vector<std::string> kUninitialised{"Application is not initialized!"};

// Counts the subscriptions the add-in holds on the session: sends, arrivals, the explorer's
// close and the button clicks.
std::size_t Subscriptions(const Harness& h, const std::vector<std::shared_ptr<memory::MemoryButton>>& buttons) {
    std::size_t count = h.session->ItemSendSubscribers() + h.session->Inbox()->ItemAddSubscribers() +
                        h.explorer->CloseSubscribers();
    for (const auto& button : buttons) count += button->ClickSubscribers();
    return count;
}

TEST(Shutdown, ExplorerCloseReleasesEverythingButTheArchive) {
    Harness h;
    h.Start();
    const auto buttons = h.Toolbar()->Buttons();
    EXPECT_EQ(Subscriptions(h, buttons), 7u);
    // Another program changes a stored option; the live one keeps its value meanwhile.
    EXPECT_EQ(h.addin->Options().tFolder.Text, "VX2 Messages");
    h.settings.SaveSetting(settings::kAppName, settings::kOptions, settings::kStoreFolderName, "Elsewhere");
    EXPECT_EQ(h.addin->Options().tFolder.Text, "VX2 Messages");

    h.CloseExplorer();
    EXPECT_EQ(Subscriptions(h, buttons), 0u);
    EXPECT_EQ(h.archive.OpenConnections(), 1);
    EXPECT_TRUE(h.addin->Initialized());
    // The options are released too: the next reader loads them from the store again.
    EXPECT_EQ(h.addin->Options().tFolder.Text, "Elsewhere");
    // No events arrive any more: sends and arrivals pass unnoticed.
    EXPECT_TRUE(h.Send());
    h.session->Deliver({});
    EXPECT_TRUE(h.Messages().empty());

    h.Disconnect();
    EXPECT_EQ(h.archive.CloseCalls(), 1);
    EXPECT_EQ(h.archive.OpenConnections(), 0);
    EXPECT_FALSE(h.addin->Initialized());
}

TEST(Shutdown, DisconnectionClosesTheArchiveAndKeepsTheBindings) {
    Harness h;
    h.Start();
    h.Disconnect();
    EXPECT_EQ(h.archive.CloseCalls(), 1);
    EXPECT_FALSE(h.addin->HasArchiveConnection());
    EXPECT_EQ(h.session->ItemSendSubscribers(), 1u);

    // Events that still arrive meet an uninitialised add-in.
    EXPECT_TRUE(h.Send());
    EXPECT_EQ(h.Messages(), kUninitialised);
    h.messages.Clear();
    h.session->Deliver({});
    EXPECT_EQ(h.Messages(), kUninitialised);

    // The explorer's close afterwards still saves the place and releases everything.
    const auto buttons = h.Toolbar()->Buttons();
    h.CloseExplorer();
    EXPECT_EQ(Subscriptions(h, buttons), 0u);
    EXPECT_TRUE(h.settings.Value(settings::kPosition, settings::kVisible).has_value());
}

TEST(Shutdown, DisconnectionDoesNothingWhenNotInitialised) {
    const struct {
        const char* name;
        bool connectFails;
        bool reconnectFails;
        int disconnections;
    } cases[] = {
        {"after a failed connection", true, false, 1},
        // A second connection starts uninitialised, whatever the first one left.
        {"after a second connection failed", false, true, 1},
        {"the second time in a row", false, false, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        if (c.connectFails) h.archive = memory::MemoryArchiveEngine();
        h.Start();
        if (c.reconnectFails) {
            h.registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", kInstalledDll, kRegExpandSz);
            h.Reconnect();
            EXPECT_FALSE(h.addin->Initialized());
            h.messages.Clear();
            EXPECT_TRUE(h.Send());
            EXPECT_EQ(h.Messages(), kUninitialised);
        }
        for (int i = 0; i < c.disconnections; ++i) h.Disconnect();
        EXPECT_EQ(h.archive.CloseCalls(), c.connectFails || c.reconnectFails ? 0 : 1);
    }
}

TEST(Shutdown, ExplorerClosingUnderTheOptionsDialogLeavesTheDialogWorking) {
    Harness h;
    h.Start();
    const auto buttons = h.Toolbar()->Buttons();
    // The dialog names no owner window, so the user can close the explorer behind it.
    h.dialogs.Then([&](DialogForm& form) {
        const auto lifetime = form.Lifetime();
        h.CloseExplorer();
        ASSERT_FALSE(lifetime.expired()) << "the explorer's close destroyed the dialog on screen";
        form.SetText("tFolder", "Faxes");
        form.Click("OKButton");
    });
    buttons[2]->Click();
    EXPECT_TRUE(h.Messages().empty());
    EXPECT_EQ(h.settings.Value(settings::kOptions, settings::kStoreFolderName), "Faxes");
    EXPECT_EQ(Subscriptions(h, buttons), 0u);
    EXPECT_EQ(h.addin->Options().tFolder.Text, "Faxes");
}

TEST(Shutdown, FailingCloseStillReleasesTheConnection) {
    Harness h;
    h.Start();
    h.archive.FailClose(true);
    h.Disconnect();
    EXPECT_EQ(h.archive.CloseCalls(), 1);
    EXPECT_FALSE(h.addin->HasArchiveConnection());
    EXPECT_FALSE(h.addin->Initialized());
    EXPECT_TRUE(h.Messages().empty());
}

TEST(Shutdown, ExplorerCloseWithoutToolbarReleasesEverything) {
    Harness h;
    h.session->Faults().Fail(memory::HostOp::CommandBarsAdd);
    h.Start();
    h.CloseExplorer();
    EXPECT_EQ(Subscriptions(h, {}), 0u);
    EXPECT_FALSE(h.settings.Value(settings::kPosition, settings::kTop).has_value());
}

TEST(Shutdown, ClosingAnotherExplorerChangesNothing) {
    Harness h;
    h.Start();
    const auto other = h.session->OpenExplorer();
    other->CloseWindow();
    EXPECT_EQ(h.session->ItemSendSubscribers(), 1u);
    EXPECT_EQ(h.explorer->CloseSubscribers(), 1u);
}

TEST(Shutdown, WithoutAnExplorerTheReferencesStayUntilUnload) {
    Harness h;
    h.CloseExplorer();
    h.Start();
    h.Disconnect();
    EXPECT_EQ(h.session->ItemSendSubscribers(), 1u);
    EXPECT_EQ(h.session->Inbox()->ItemAddSubscribers(), 1u);
    h.addin.reset();  // the host unloads the add-in
    EXPECT_EQ(h.session->ItemSendSubscribers(), 0u);
    EXPECT_EQ(h.session->Inbox()->ItemAddSubscribers(), 0u);
}

}  // namespace
}  // namespace vexa::testing
