// Start-up of the add-in object: the installation folder, the bindings, the archive connection,
// and what each failure leaves behind.

#include <gtest/gtest.h>

#include <functional>

#include "settings/setting_names.h"
#include "tests/support/harness.h"

namespace vexa::testing {
namespace {

using memory::HostOp;

const std::string kUninitialised = "Application is not initialized!";
const std::string kCantInitEmptyFolder = "Can't init : Application-defined or object-defined error";

// True when the add-in handles sends as an initialised add-in: no refusal message appears.
bool HandlesSendsInitialised(Harness& h) {
    h.messages.Clear();
    h.Send();
    return h.Messages().empty();
}

TEST(Connection, StartUpFindsTheInstallationAndBindsEverything) {
    Harness h;
    Connect& addin = h.Start();

    EXPECT_TRUE(h.Messages().empty());
    EXPECT_TRUE(addin.Initialized());
    EXPECT_EQ(addin.AppPath(), kInstallFolder);
    EXPECT_EQ(h.settings.Value(settings::kAppPath, settings::kPath), kInstallFolder);
    EXPECT_EQ(h.archive.Opened(), std::vector<std::string>{kArchivePath});
    EXPECT_EQ(h.archive.OpenConnections(), 1);
    EXPECT_EQ(h.session->ItemSendSubscribers(), 1u);
    EXPECT_EQ(h.session->Inbox()->ItemAddSubscribers(), 1u);
    EXPECT_EQ(h.explorer->CloseSubscribers(), 1u);
    ASSERT_NE(h.Toolbar(), nullptr);
    for (const auto& button : h.Toolbar()->Buttons()) EXPECT_EQ(button->ClickSubscribers(), 1u);
    EXPECT_TRUE(HandlesSendsInitialised(h));
}

TEST(Connection, RegistryIsReadWithTheSizeProbeAndTheKeyClosed) {
    Harness h;
    h.Start();
    const std::string size = std::to_string(std::string(kInstalledDll).size() + 1);
    EXPECT_EQ(h.registry.Calls(), (std::vector<std::string>{
                                      std::string("RegOpenKeyA(") + kAppPathsKey + ")",
                                      "RegQueryValueExA(default, data=null, size=0)",
                                      "RegQueryValueExA(default, data, size=" + size + ")",
                                      "RegCloseKey",
                                  }));
    EXPECT_EQ(h.registry.OpenHandles(), 0u);
}

struct Phase1Failure {
    const char* name;
    std::function<void(Harness&)> arrange;
    // Null: the add-in is handed the application object as usual.
    std::function<ObjectPtr(Harness&)> application;
    std::string message;
    bool appPathWritten;
    bool sendsBound;
    bool arrivalsBound;
};

class ConnectionPhase1 : public ::testing::TestWithParam<Phase1Failure> {};

TEST_P(ConnectionPhase1, FailureShowsCantInitAndLeavesTheAddinUninitialised) {
    const Phase1Failure& c = GetParam();
    Harness h;
    if (c.arrange) c.arrange(h);
    h.addin = std::make_unique<Connect>(h.MakePlatform());
    CustomArgs custom;
    const ObjectPtr application = c.application ? c.application(h) : h.session->NewApplication();
    h.addin->OnConnection(application, ConnectMode::Startup, nullptr, custom);

    EXPECT_EQ(h.Messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(h.messages.All().at(0).title, "Vexa - Message Manager");
    EXPECT_FALSE(h.addin->Initialized());
    EXPECT_EQ(h.archive.OpenConnections(), 0);
    EXPECT_EQ(h.settings.Value(settings::kAppPath, settings::kPath).has_value(), c.appPathWritten);
    EXPECT_EQ(h.session->ItemSendSubscribers(), c.sendsBound ? 1u : 0u);
    EXPECT_EQ(h.session->Inbox()->ItemAddSubscribers(), c.arrivalsBound ? 1u : 0u);
    // Phase 2 never ran: no toolbar, no explorer binding.
    EXPECT_EQ(h.Toolbar(), nullptr);
    EXPECT_EQ(h.explorer->CloseSubscribers(), 0u);
    // Bound handlers refuse to work while uninitialised.
    if (c.sendsBound) {
        h.messages.Clear();
        EXPECT_TRUE(h.Send());
        EXPECT_EQ(h.Messages(), std::vector<std::string>{kUninitialised});
    }
    if (c.arrivalsBound) {
        h.messages.Clear();
        h.session->Deliver({});
        EXPECT_EQ(h.Messages(), std::vector<std::string>{kUninitialised});
    }
}

class NotAnApplication final : public Object {};

INSTANTIATE_TEST_SUITE_P(
    EachFailure, ConnectionPhase1,
    ::testing::Values(
        Phase1Failure{"NoAppPathsKey", [](Harness& h) { h.registry = memory::MemoryRegistry(); }, nullptr,
                      kCantInitEmptyFolder, false, false, false},
        Phase1Failure{"ExpandableStringValue",
                      [](Harness& h) {
                          h.registry = memory::MemoryRegistry();
                          h.registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", kInstalledDll, kRegExpandSz);
                      },
                      nullptr, kCantInitEmptyFolder, false, false, false},
        Phase1Failure{"KeyWithoutDefaultValue",
                      [](Harness& h) {
                          h.registry = memory::MemoryRegistry();
                          h.registry.CreateKey(kHkeyLocalMachine, kAppPathsKey);
                      },
                      nullptr, kCantInitEmptyFolder, false, false, false},
        Phase1Failure{"ValueWithoutFolder",
                      [](Harness& h) { h.registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", "Corvane.dll"); },
                      nullptr, kCantInitEmptyFolder, false, false, false},
        Phase1Failure{"RegistryLayerBroken",
                      [](Harness& h) { h.registry.FailCalls(HostError(53, "File not found: advapi32")); }, nullptr,
                      "Can't init : File not found: advapi32", false, false, false},
        Phase1Failure{"SettingsStoreRefusesTheFolder",
                      [](Harness& h) { h.settings.FailWrites(settings::kAppPath, settings::kPath); }, nullptr,
                      "Can't init : Invalid procedure call or argument", false, false, false},
        Phase1Failure{"NotTheHostsApplication", nullptr,
                      [](Harness&) -> ObjectPtr { return std::make_shared<NotAnApplication>(); },
                      "Can't init : Type mismatch", true, false, false},
        Phase1Failure{"NamespaceRefused", [](Harness& h) { h.session->Faults().Fail(HostOp::GetNamespace); },
                      nullptr, "Can't init : The operation failed.", true, true, false},
        Phase1Failure{"SecondApplicationObjectRefused",
                      [](Harness& h) {
                          h.session->Faults().Fail(HostOp::CreateApplication, memory::FaultPlan::kAlways,
                                                   HostError(429, "ActiveX component can't create object"));
                      },
                      nullptr, "Can't init : ActiveX component can't create object", true, true, false},
        Phase1Failure{"InboxRefused", [](Harness& h) { h.session->Faults().Fail(HostOp::GetDefaultFolder); },
                      nullptr, "Can't init : The operation failed.", true, true, false},
        Phase1Failure{"MissingDatabase", [](Harness& h) { h.archive = memory::MemoryArchiveEngine(); }, nullptr,
                      std::string("Can't init : Could not find file '") + kArchivePath + "'.", true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Connection, InstallationFolderIsTheParentOfTheRegisteredFile) {
    const struct {
        const char* registered;
        const char* folder;
        const char* archive;
    } cases[] = {
        {"C:\\Program Files\\Tool\\Corvane.dll", "C:\\Program Files\\Tool", "C:\\Program Files\\Tool\\Corvane.mdb"},
        {"D:\\Corvane.dll", "D:\\", "D:\\Corvane.mdb"},
        {"\\\\server\\share\\vexa\\Corvane.dll", "\\\\server\\share\\vexa", "\\\\server\\share\\vexa\\Corvane.mdb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.registered);
        Harness h;
        h.registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", c.registered);
        h.archive.AddFile(c.archive);
        Connect& addin = h.Start();
        EXPECT_EQ(addin.AppPath(), c.folder);
        EXPECT_EQ(h.archive.Opened(), std::vector<std::string>{c.archive});
    }
}

TEST(Connection, TextAfterAnEmbeddedNulIsIgnored) {
    Harness h;
    h.registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", std::string(kInstalledDll) + '\0' + "\\junk");
    EXPECT_EQ(h.Start().AppPath(), kInstallFolder);
}

struct Phase2Failure {
    const char* name;
    std::function<void(Harness&)> arrange;
    bool toolbarExists;
    std::size_t buttons;
    bool closeBound;
};

class ConnectionPhase2 : public ::testing::TestWithParam<Phase2Failure> {};

TEST_P(ConnectionPhase2, FailureIsSilentAndTheAddinStillArchives) {
    const Phase2Failure& c = GetParam();
    Harness h;
    c.arrange(h);
    Connect& addin = h.Start();

    EXPECT_TRUE(h.Messages().empty());
    EXPECT_TRUE(addin.Initialized());
    EXPECT_EQ(h.archive.OpenConnections(), 1);
    EXPECT_EQ(h.session->Inbox()->ItemAddSubscribers(), 1u);
    EXPECT_TRUE(HandlesSendsInitialised(h));
    const auto bar = h.Toolbar();
    EXPECT_EQ(bar != nullptr, c.toolbarExists);
    if (bar) {
        EXPECT_EQ(bar->Buttons().size(), c.buttons);
    }
    if (const auto active = h.session->ActiveExplorer()) {
        EXPECT_EQ(active->CloseSubscribers(), c.closeBound ? 1u : 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachFailure, ConnectionPhase2,
    ::testing::Values(
        Phase2Failure{"NoExplorer", [](Harness& h) { h.CloseExplorer(); }, false, 0, false},
        Phase2Failure{"CommandBarsRefused", [](Harness& h) { h.session->Faults().Fail(HostOp::ExplorerCommandBars); },
                      false, 0, true},
        Phase2Failure{"BarRefused", [](Harness& h) { h.session->Faults().Fail(HostOp::CommandBarsAdd); }, false, 0,
                      true},
        Phase2Failure{"BadSavedTop", [](Harness& h) { h.settings.SaveSetting("", "Position", "Top", "abc"); }, true, 0,
                      true},
        Phase2Failure{"ThirdButtonRefused",
                      [](Harness& h) {
                          // Two buttons are added; the third Add is refused.
                          h.session->Faults().FailAfter(HostOp::ControlsAdd, 2);
                      },
                      true, 2, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Connection, SecondApplicationObjectIsCreatedOncePerModule) {
    Harness h;
    h.Start();
    h.Reconnect();
    EXPECT_EQ(h.factory.Created(), 1);
    // Another add-in object of the same module shares it too.
    Connect other(h.MakePlatform());
    CustomArgs custom;
    other.OnConnection(h.session->NewApplication(), ConnectMode::Startup, nullptr, custom);
    EXPECT_EQ(h.factory.Created(), 1);
}

TEST(Connection, SecondConnectionReplacesEveryReference) {
    Harness h;
    h.Start();
    const auto firstExplorer = h.explorer;
    const auto firstBar = h.Toolbar();
    h.explorer = h.session->OpenExplorer();
    h.Reconnect();

    EXPECT_TRUE(h.Messages().empty());
    EXPECT_EQ(h.session->ItemSendSubscribers(), 1u);
    EXPECT_EQ(h.session->Inbox()->ItemAddSubscribers(), 1u);
    EXPECT_EQ(firstExplorer->CloseSubscribers(), 0u);
    EXPECT_EQ(h.explorer->CloseSubscribers(), 1u);
    for (const auto& button : firstBar->Buttons()) EXPECT_EQ(button->ClickSubscribers(), 0u);
    ASSERT_NE(h.Toolbar(), nullptr);
    for (const auto& button : h.Toolbar()->Buttons()) EXPECT_EQ(button->ClickSubscribers(), 1u);
    // The first archive connection was released when the second one took its place.
    EXPECT_EQ(h.archive.Opened().size(), 2u);
    EXPECT_EQ(h.archive.OpenConnections(), 1);
}

TEST(Connection, LaterConnectionThatCannotOpenTheArchiveLetsTheEarlierOneGo) {
    Harness h;
    Connect& addin = h.Start();
    // The add-in's file was moved to a folder without an archive, and the host connects again.
    h.registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", "C:\\Moved\\Corvane.dll");
    h.Reconnect();

    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Can't init : Could not find file 'C:\\Moved\\Corvane.mdb'."});
    EXPECT_FALSE(addin.Initialized());
    // The earlier archive is no longer held open by an add-in that refuses to use it; the add-in
    // holds the connection that failed, unopened, in its place.
    EXPECT_EQ(h.archive.OpenConnections(), 0);
    EXPECT_TRUE(addin.HasArchiveConnection());
    h.messages.Clear();
    EXPECT_TRUE(h.Send());
    EXPECT_EQ(h.Messages(), std::vector<std::string>{kUninitialised});
    // The disconnection of an uninitialised add-in closes nothing.
    h.Disconnect();
    EXPECT_EQ(h.archive.CloseCalls(), 0);

    // Once the add-in is back where its archive is, the next connection opens it again.
    h.registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", kInstalledDll);
    h.messages.Clear();
    h.Reconnect();
    EXPECT_TRUE(h.Messages().empty());
    EXPECT_TRUE(addin.Initialized());
    EXPECT_EQ(h.archive.OpenConnections(), 1);
    EXPECT_TRUE(HandlesSendsInitialised(h));
}

TEST(StringFromBuffer, CutsAtTheFirstNul) {
    Harness h;
    Connect addin(h.MakePlatform());
    const struct {
        std::string buffer;
        std::string expected;
    } cases[] = {
        {std::string("abc\0ef", 6), "abc"},
        {"abcdef", "abcdef"},
        {"", ""},
        {std::string("\0abc", 4), ""},
        {std::string("a\0b\0c", 5), "a"},
    };
    for (const auto& c : cases) {
        std::string buffer = c.buffer;
        EXPECT_EQ(addin.StringFromBuffer(buffer), c.expected);
        EXPECT_EQ(buffer, c.buffer);
    }
}

}  // namespace
}  // namespace vexa::testing
