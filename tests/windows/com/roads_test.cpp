// The roads of a fax through the add-in on the COM side: a stand-in Outlook (objects answering by
// name, events through connection points), the mail-item wrapper from the registered Corvane.dll,
// and a stand-in ADO that records what the archive is asked to do. A fax arriving, a fax sent,
// its confirmation. Each road runs twice: through the add-in object built here from the Windows
// pieces, and through Corvane.dll itself as Outlook loads it (created by ProgID, connected through
// IDTExtensibility2, ADO found by class in the registry; an Outlook is registered by class too,
// which the add-in must leave alone).

#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "corvane.h"

#include "adapters/ado/ado_archive.h"
#include "adapters/memory/memory_platform.h"
#include "adapters/memory/scripted_dialogs.h"
#include "adapters/outlook/com_events.h"
#include "adapters/outlook/com_safe_mail_items.h"
#include "adapters/outlook/dispatch_object.h"
#include "adapters/outlook/outlook_host.h"
#include "adapters/paths/path_rules.h"
#include "adapters/windows/win32_error.h"
#include "addin/connect.h"
#include "tests/windows/com/stand_in_outlook.h"

namespace vexa::com {
namespace {

using namespace vexa::outlook;
using namespace vexa::outlook::standin;
using standin::Object;
using ado::AdoArchiveEngine;
using windows::Utf8ToWide;

class StandInOutlook final : public ApplicationFactory {
public:
    explicit StandInOutlook(ComPtr<IDispatch> application) : application_(std::move(application)) {}
    ApplicationPtr CreateApplication() override { return As<Application>(WrapApplication(application_.Get())); }

private:
    ComPtr<IDispatch> application_;
};

// Hands out a stand-in to whoever creates the class, as a registered server would.
class StandInFactory final : public IClassFactory {
public:
    explicit StandInFactory(std::function<ComPtr<IDispatch>()> make) : make_(std::move(make)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        return make_()->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    std::function<ComPtr<IDispatch>()> make_;
};

// Message boxes shown by the add-in inside the DLL: read and answered with OK, so a failing
// road reports its message instead of waiting for a user who is not there.
class MessageBoxWatch {
public:
    MessageBoxWatch()
        : thread_([this] {
              while (!stop_) {
                  if (HWND box = ::FindWindowW(L"#32770", L"Vexa - Message Manager")) {
                      wchar_t text[1024] = {};
                      ::GetDlgItemTextW(box, 0xFFFF, text, 1024);
                      std::lock_guard<std::mutex> lock(mutex_);
                      texts_.push_back(WideToUtf8(text));
                      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                      std::this_thread::sleep_for(std::chrono::milliseconds(200));
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~MessageBoxWatch() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

private:
    std::atomic<bool> stop_ = false;
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
    std::thread thread_;
};

// The Session of every stand-in application: the running test's. Corvane.dll keeps the first
// application handed to it for as long as it is loaded, across the tests of this process.
ComPtr<IDispatch>& SessionOfThisTest() {
    static ComPtr<IDispatch> session;
    return session;
}

// Where the add-in took its Session from, across the tests of this process: the Application
// handed to its connection, whose objects Outlook trusts, or an Outlook created by class, whose
// objects bring up Outlook's security prompts when an address is read through them.
int gSessionsOfTheHandedApplication = 0;
int gOutlooksCreatedByClass = 0;

// An automation date as the user's locale writes it, read back.
DATE DateOf(const std::string& text) {
    DATE date = 0;
    std::wstring wide = Utf8ToWide(text);
    if (FAILED(::VarDateFromStr(wide.data(), LOCALE_USER_DEFAULT, 0, &date))) return 0;
    return date;
}

DATE Now() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    now.wMilliseconds = 0;
    DATE date = 0;
    ::SystemTimeToVariantTime(&now, &date);
    return date;
}

enum class Through { TheAddInObject, TheDll };

class Roads : public ::testing::TestWithParam<Through> {
protected:
    void SetUp() override {
        ::CoInitialize(nullptr);
        dll_ = ::LoadLibraryW(L"Corvane.dll");
        ASSERT_NE(dll_, nullptr);
        ASSERT_EQ(Entry("DllRegisterServer"), S_OK);
        folder_ = std::filesystem::temp_directory_path() / "vexa-roads";
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "Attach");

        auto folders = Make("Folders", log_,
                            {{L"Item", [](const auto&) -> Variant { throw HostError(-2147221233, "not found"); }},
                             {L"Add", Recorded(log_, "Folders.Add", Object(Make("Store", log_, {{L"Name", Text("VX2 Messages")}})))}});
        items_ = Make("Items", log_, {{L"Count", Number(0)}}, kIidItemsEvents);
        auto inbox = Make("Inbox", log_, {{L"Items", Object(items_)}, {L"Folders", Object(folders)}});
        auto nameSpace = Make("NameSpace", log_, {{L"GetDefaultFolder", Object(inbox)}});
        SessionOfThisTest() = nameSpace;
        application_ = Make("Application", log_,
                            {{L"Class", Number(0)},
                             {L"GetNamespace", Object(nameSpace)},
                             {L"Session", [](const auto&) {
                                  ++gSessionsOfTheHandedApplication;
                                  return Variant::Object(SessionOfThisTest().Get());
                              }},
                             {L"ActiveExplorer", [](const auto&) { return Variant(); }}},
                            kIidApplicationEvents);
        if (GetParam() == Through::TheDll) {
            ConnectTheDll();
        } else {
            ConnectTheAddInObject();
        }
    }
    void TearDown() override {
        if (dllAddin_) {
            dllAddin_->OnDisconnection(ext_dm_HostShutdown, nullptr);
            dllAddin_ = ComPtr<IDTExtensibility2>();
        }
        addin_.reset();
        for (DWORD cookie : classCookies_) ::CoRevokeClassObject(cookie);
        for (const wchar_t* key : {L"ADODB.Connection", L"ADODB.Recordset", L"ADODB.Command", L"Microsoft.Jet.OLEDB.4.0"}) {
            ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
        }
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAppPathsKey);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Vexa - Message Manager");
        Entry("DllUnregisterServer");
        std::filesystem::remove_all(folder_);
        ::CoUninitialize();
    }

    // The add-in object of the core over the Windows pieces, with memory stand-ins for the
    // registry, settings and message boxes.
    void ConnectTheAddInObject() {
        registry_.SetString(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll",
                            "", (folder_ / "Corvane.dll").string());
        outlook_ = std::make_unique<StandInOutlook>(application_);
        module_ = std::make_unique<AddinModule>(*outlook_);
        archive_ = std::make_unique<AdoArchiveEngine>(
            [this](const std::wstring& progId) { return Ado(progId); }, [](const std::wstring&) { return true; });
        addin_ = std::make_unique<Connect>(Platform{*module_, registry_, paths_, settings_, *archive_, files_,
                                                    messages_, dialogs_, wrappers_, shell_});
        settings_.SaveSetting("", "Options", "AskDescription", "0");
        CustomArgs custom;
        addin_->OnConnection(WrapApplication(application_.Get()), ConnectMode::Startup, nullptr, custom);
        ASSERT_TRUE(addin_->Initialized()) << (messages_.Texts().empty() ? "" : messages_.Texts()[0]);
    }

    // Corvane.dll as Outlook loads it: the installation's App Paths key and the user's settings
    // in the registry, Outlook and the ADO classes registered for this process only.
    void ConnectTheDll() {
        const std::wstring module = (folder_ / "Corvane.dll").wstring();
        ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kAppPathsKey, nullptr, REG_SZ, module.c_str(),
                                    static_cast<DWORD>((module.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        const std::wstring no = L"0";
        ::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Vexa - Message Manager\\Options",
                          L"AskDescription", REG_SZ, no.c_str(), static_cast<DWORD>((no.size() + 1) * sizeof(wchar_t)));
        RegisterClass(kClsidOutlook, nullptr, [this] {
            ++outlookCreated_;
            ++gOutlooksCreatedByClass;
            return Make("Outlook", log_, {{L"Session", [](const auto&) {
                                               return Variant::Object(SessionOfThisTest().Get());
                                           }}});
        });
        int n = 0;
        for (const wchar_t* progId : {L"ADODB.Connection", L"ADODB.Recordset", L"ADODB.Command"}) {
            CLSID clsid = kStandInClsid;
            clsid.Data4[7] = static_cast<unsigned char>(++n);
            RegisterClass(clsid, progId, [this, progId] { return Ado(progId); });
        }
        CLSID jet = kStandInClsid;
        jet.Data4[7] = 0x10;
        SetProgId(L"Microsoft.Jet.OLEDB.4.0", jet);

        dllAddin_ = ConnectedDllAddin();
        ASSERT_TRUE(Logged("Connection.Open")) << ::testing::PrintToString(watch_.Texts());
    }

    // A new add-in object of Corvane.dll, connected as Outlook connects it.
    ComPtr<IDTExtensibility2> ConnectedDllAddin() {
        IDTExtensibility2* addin = nullptr;
        CLSID connect{};
        EXPECT_EQ(::CLSIDFromProgID(L"Corvane.Connect", &connect), S_OK);
        EXPECT_EQ(::CoCreateInstance(connect, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IDTExtensibility2),
                                     reinterpret_cast<void**>(&addin)),
                  S_OK);
        auto connected = ComPtr<IDTExtensibility2>::Adopt(addin);
        auto addInInst = Make("AddIn", log_, {});
        if (connected) {
            EXPECT_EQ(connected->OnConnection(application_.Get(), ext_cm_Startup, addInInst.Get(), nullptr), S_OK);
        }
        return connected;
    }

    void SetProgId(const wchar_t* progId, const CLSID& clsid) {
        wchar_t text[40] = {};
        ::StringFromGUID2(clsid, text, 40);
        ::RegSetKeyValueW(HKEY_CLASSES_ROOT, (std::wstring(progId) + L"\\CLSID").c_str(), nullptr, REG_SZ, text,
                          static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
    }
    void RegisterClass(const CLSID& clsid, const wchar_t* progId, std::function<ComPtr<IDispatch>()> make) {
        if (progId) SetProgId(progId, clsid);
        factories_.push_back(std::make_unique<StandInFactory>(std::move(make)));
        DWORD cookie = 0;
        ASSERT_EQ(::CoRegisterClassObject(clsid, factories_.back().get(), CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                          REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
        classCookies_.push_back(cookie);
    }

    std::vector<std::string> Messages() const {
        return GetParam() == Through::TheDll ? watch_.Texts() : messages_.Texts();
    }

    bool Logged(const std::string& entry) const { return std::find(log_->begin(), log_->end(), entry) != log_->end(); }

    HRESULT Entry(const char* name) {
        auto function =
            reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(::GetProcAddress(dll_, name)));
        return function ? function() : E_NOTIMPL;
    }

    // A stand-in ADO: every call and field value goes to the log; the new row's Id is 1.
    ComPtr<IDispatch> Ado(const std::wstring& progId) {
        if (progId == L"ADODB.Connection") {
            return Make("Connection", log_,
                        {{L"Provider", Text("")}, {L"Open", Recorded(log_, "Connection.Open", Text(""))},
                         {L"BeginTrans", Recorded(log_, "BeginTrans", Text(""))},
                         {L"CommitTrans", Recorded(log_, "CommitTrans", Text(""))},
                         {L"RollbackTrans", Recorded(log_, "RollbackTrans", Text(""))},
                         {L"Close", Text("")}});
        }
        if (progId == L"ADODB.Command") {
            auto parameters = Make("Parameters", log_, {{L"Append", Text("")}});
            return Make("Command", log_,
                        {{L"ActiveConnection", Text("")},
                         {L"CommandText", Text("")},
                         {L"CommandType", Text("")},
                         {L"Parameters", Object(parameters)},
                         {L"CreateParameter",
                          [this](const std::vector<const VARIANT*>& arguments) {
                              Variant value;
                              ::VariantCopy(&value.Raw(), const_cast<VARIANT*>(arguments.back()));
                              log_->push_back("Parameter " + value.AsText());
                              return Variant::Object(Make("Parameter", log_, {{L"Value", Text("")}}).Get());
                          }},
                         {L"Execute", [this](const std::vector<const VARIANT*>& arguments) {
                              log_->push_back("Command.Execute");
                              auto* affected = const_cast<VARIANT*>(arguments.at(0));
                              ::VariantClear(affected);
                              affected->vt = VT_I4;
                              affected->lVal = 1;
                              return Variant();
                          }}});
        }
        auto field = Make("Field", log_, {{L"Value", Number(1)}});
        auto fields = Make("Fields", log_, {{L"Item", Object(field)}});
        return Make("Recordset", log_,
                    {{L"Open", Recorded(log_, "Recordset.Open", Text(""))},
                     {L"AddNew", Text("")},
                     {L"Update", Recorded(log_, "Recordset.Update", Text(""))},
                     {L"Fields", Object(fields)}});
    }

    // `onSubject` runs whenever the add-in reads the subject, as Outlook's own work may meanwhile.
    ComPtr<IDispatch> Mail(const std::string& sender, const std::string& recipient, const std::string& subject,
                           const std::string& body = "* The reference number for this fax is NY4711-23. Thanks",
                           DATE received = 46000.5, std::function<void()> onSubject = nullptr) {
        auto attachment = Make("Attachment", log_,
                               {{L"FileName", Text("fax.tif")},
                                {L"SaveAsFile", [this](const std::vector<const VARIANT*>& arguments) {
                                     Variant path;
                                     ::VariantCopy(&path.Raw(), const_cast<VARIANT*>(arguments[0]));
                                     std::ofstream(path.AsText(), std::ios::binary) << "II*fax";
                                     return Variant();
                                 }}});
        auto attachments = Make("Attachments", log_, {{L"Count", Number(1)}, {L"Item", Object(attachment)}});
        auto gateway = Make("Recipient", log_,
                            {{L"Address", Text(recipient)}, {L"AddressEntry", [](const auto&) { return Variant(); }}});
        auto recipients = Make("Recipients", log_, {{L"Count", Number(1)}, {L"Item", Object(gateway)}});
        return Make("Mail", log_,
                    {{L"Class", Number(43)},
                     {L"UnRead", [](const auto&) { return Variant::Bool(true); }},
                     {L"Subject", [subject, onSubject](const auto&) {
                          if (onSubject) onSubject();
                          return Variant::Text(subject);
                      }},
                     {L"Body", Text(body)},
                     {L"ReceivedTime", [received](const auto&) {
                          Variant date;
                          date.Raw().vt = VT_DATE;
                          date.Raw().date = received;
                          return date;
                      }},
                     {L"Attachments", Object(attachments)},
                     {L"Recipients", Object(recipients)},
                     {L"SenderEmailAddress", Text(sender)},
                     {L"SenderEmailType", Text("SMTP")},
                     {L"Move", Recorded(log_, "Mail.Move", [](const auto&) { return Variant(); })}});
    }

    std::shared_ptr<Log> log_ = std::make_shared<Log>();
    HMODULE dll_ = nullptr;
    std::filesystem::path folder_;
    memory::MemoryRegistry registry_;
    paths::WindowsPathRules paths_;
    memory::MemorySettingsStore settings_;
    memory::StdFileStore files_;
    memory::RecordingMessageBox messages_;
    memory::ScriptedDialogs dialogs_;
    memory::RecordingShell shell_;
    ComSafeMailItemFactory wrappers_;
    ComPtr<IDispatch> application_;
    ComPtr<IDispatch> items_;
    std::unique_ptr<StandInOutlook> outlook_;
    std::unique_ptr<AddinModule> module_;
    std::unique_ptr<AdoArchiveEngine> archive_;
    std::unique_ptr<Connect> addin_;
    static constexpr CLSID kClsidOutlook = {0x0006F03A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    static constexpr CLSID kStandInClsid = {0x5EA1F00D, 0x7E57, 0x4A11, {0x9D, 0x0C, 0x7E, 0x57, 0x00, 0x00, 0x00, 0x00}};
    static constexpr const wchar_t* kAppPathsKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll";
    MessageBoxWatch watch_;
    std::vector<std::unique_ptr<StandInFactory>> factories_;
    std::vector<DWORD> classCookies_;
    ComPtr<IDTExtensibility2> dllAddin_;
    int outlookCreated_ = 0;
};

TEST_P(Roads, AFaxArrives) {
    auto mail = Mail("message@inbound.efax.com", "me@example.org", "eFax message");
    VARIANT item;
    item.vt = VT_DISPATCH;
    item.pdispVal = mail.Get();
    Of(items_).point.Raise(kDispidItemAdd, {item});

    EXPECT_EQ(Messages(), std::vector<std::string>{});
    EXPECT_TRUE(Logged("Recordset.Open"));
    EXPECT_TRUE(Logged("Field.Value=NY4711-23"));
    EXPECT_TRUE(Logged("Field.Value=R0000001.tif"));
    EXPECT_TRUE(Logged("CommitTrans"));
    EXPECT_TRUE(std::filesystem::exists(folder_ / "Attach" / "R0000001.tif"));
    EXPECT_TRUE(Logged("Folders.Add"));
    EXPECT_TRUE(Logged("Mail.Move"));
}

TEST_P(Roads, AFaxIsSentTaggedAndGoesAhead) {
    auto mail = Mail("me@example.org", "12125551234@efaxsend.com", "Quote for ACME");
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT arguments[2];
    arguments[0].vt = VT_BOOL | VT_BYREF;
    arguments[0].pboolVal = &cancel;
    arguments[1].vt = VT_DISPATCH;
    arguments[1].pdispVal = mail.Get();
    Of(application_).point.Raise(kDispidItemSend, {arguments[0], arguments[1]});

    EXPECT_EQ(Messages(), std::vector<std::string>{});
    EXPECT_EQ(cancel, VARIANT_FALSE);
    EXPECT_TRUE(Logged("Mail.Subject=Quote for ACME {0000001}"));
    EXPECT_TRUE(Logged("Field.Value=12125551234"));
    EXPECT_TRUE(Logged("Field.Value=Unconfirmed"));
    EXPECT_TRUE(std::filesystem::exists(folder_ / "Attach" / "S0000001.tif"));
}

TEST_P(Roads, AFaxSentWithoutADateIsDatedWhenArchived) {
    // Outlook reports its "none" date, 1 January 4501, as the time of an item being sent.
    auto mail = Mail("me@example.org", "12125551234@efaxsend.com", "Quote for ACME",
                     "Please find the quote attached.", 949998.0);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT arguments[2];
    arguments[0].vt = VT_BOOL | VT_BYREF;
    arguments[0].pboolVal = &cancel;
    arguments[1].vt = VT_DISPATCH;
    arguments[1].pdispVal = mail.Get();
    const DATE before = Now();
    Of(application_).point.Raise(kDispidItemSend, {arguments[0], arguments[1]});
    const DATE after = Now();

    EXPECT_EQ(Messages(), std::vector<std::string>{});
    EXPECT_EQ(cancel, VARIANT_FALSE);
    // The row's first column written is its Date.
    const auto opened = std::find(log_->begin(), log_->end(), "Recordset.Open");
    const auto date = std::find_if(opened, log_->end(), [](const auto& e) { return e.starts_with("Field.Value="); });
    ASSERT_NE(date, log_->end());
    const DATE written = DateOf(date->substr(std::string("Field.Value=").size()));
    const DATE second = 1.0 / 86400;
    EXPECT_GE(written, before - second) << *date;
    EXPECT_LE(written, after + second) << *date;
}

TEST_P(Roads, ItsConfirmationMarksTheRow) {
    auto confirmation = Mail("send@mail.efax.com", "me@example.org", "Successful transmission to 12125551234",
                             "Your fax \"Quote for ACME {0000001}\" was sent.");
    VARIANT item;
    item.vt = VT_DISPATCH;
    item.pdispVal = confirmation.Get();
    Of(items_).point.Raise(kDispidItemAdd, {item});

    EXPECT_EQ(Messages(), std::vector<std::string>{});
    EXPECT_TRUE(Logged("Command.CommandText=UPDATE send SET Confirm = ? WHERE Id = ?"));
    EXPECT_TRUE(Logged("Parameter Successful"));
    EXPECT_TRUE(Logged("Parameter 1"));
    EXPECT_TRUE(Logged("Command.Execute"));
    EXPECT_TRUE(Logged("Mail.Move"));
}

INSTANTIATE_TEST_SUITE_P(Through, Roads, ::testing::Values(Through::TheAddInObject, Through::TheDll),
                         [](const auto& info) { return info.param == Through::TheDll ? "Dll" : "AddInObject"; });

// The state of the loaded Corvane.dll, which its add-in objects share.
class DllModule : public Roads {};

TEST_P(DllModule, EveryAddinObjectSharesOneOutlookApplicationThatOutlivesThem) {
    // SetUp connected one add-in object; the module created Outlook's application then, or
    // already did for an earlier test of this process.
    const int created = outlookCreated_;
    EXPECT_LE(created, 1);
    ComPtr<IDTExtensibility2> second = ConnectedDllAddin();
    EXPECT_EQ(outlookCreated_, created);

    // Both objects go; a third one, connected later, still reaches the Inbox through it.
    for (ComPtr<IDTExtensibility2>* gone : {&dllAddin_, &second}) {
        (*gone)->OnDisconnection(ext_dm_UserClosed, nullptr);
        *gone = ComPtr<IDTExtensibility2>();
    }
    dllAddin_ = ConnectedDllAddin();
    EXPECT_EQ(outlookCreated_, created);
    EXPECT_EQ(Entry("DllCanUnloadNow"), S_FALSE);

    auto mail = Mail("message@inbound.efax.com", "me@example.org", "eFax message");
    VARIANT item;
    item.vt = VT_DISPATCH;
    item.pdispVal = mail.Get();
    Of(items_).point.Raise(kDispidItemAdd, {item});
    EXPECT_EQ(Messages(), std::vector<std::string>{});
    EXPECT_EQ(std::count(log_->begin(), log_->end(), "Mail.Move"), 1);
}

TEST_P(DllModule, TheInboxIsReachedThroughTheApplicationOutlookHandedOver) {
    const int handed = gSessionsOfTheHandedApplication;
    ComPtr<IDTExtensibility2> second = ConnectedDllAddin();
    EXPECT_GT(gSessionsOfTheHandedApplication, handed);
    EXPECT_EQ(gOutlooksCreatedByClass, 0);
    second->OnDisconnection(ext_dm_UserClosed, nullptr);
}

// Outlook lets the add-in object go while one of its handlers runs (a nested message loop of a
// dialog lets it): the object stays, with its subscriptions, until the handler has returned.
TEST_P(DllModule, AnAddinObjectReleasedDuringItsHandlerLivesUntilTheHandlerReturns) {
    std::size_t advisedAfterRelease = 99;
    auto sending = Mail("me@example.org", "12125551234@efaxsend.com", "Quote for ACME", "", 46000.5, [&] {
        if (!dllAddin_) return;
        dllAddin_->OnDisconnection(ext_dm_UserClosed, nullptr);
        dllAddin_ = ComPtr<IDTExtensibility2>();  // Outlook's last reference
        advisedAfterRelease = Of(application_).point.Advised();
    });
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT arguments[2];
    arguments[0].vt = VT_BOOL | VT_BYREF;
    arguments[0].pboolVal = &cancel;
    arguments[1].vt = VT_DISPATCH;
    arguments[1].pdispVal = sending.Get();
    Of(application_).point.Raise(kDispidItemSend, {arguments[0], arguments[1]});

    ASSERT_FALSE(dllAddin_);
    EXPECT_EQ(advisedAfterRelease, 1u);
    EXPECT_EQ(Of(application_).point.Advised(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Through, DllModule, ::testing::Values(Through::TheDll),
                         [](const auto&) { return "Dll"; });

}  // namespace
}  // namespace vexa::com
