// The options dialog and the description prompt as real Win32 dialogs, run under Wine on a
// virtual display. The dialog runs modally on the test's thread, as in Outlook; a second thread
// plays the user with window messages (typing, Enter, Esc, clicks, the close box) and saves one
// screenshot of each dialog for a person to look at.

#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "adapters/memory/memory_archive.h"
#include "adapters/memory/memory_platform.h"
#include "adapters/paths/path_rules.h"
#include "adapters/windows/win32_dialogs.h"
#include "adapters/windows/win32_error.h"
#include "addin/connect.h"
#include "dialogs/frm_description.h"
#include "dialogs/frm_options.h"

namespace vexa::windows {
namespace {

using namespace std::chrono_literals;

class NoOutlook final : public ApplicationFactory {
public:
    ApplicationPtr CreateApplication() override { throw HostError(429, "ActiveX component can't create object"); }
};

// The add-in object with memory components and the real Win32 dialogs, owned by the window
// `owner` names, or by default by the thread's active window.
struct AddIn {
    AddIn() = default;
    explicit AddIn(std::function<HWND()> owner) : dialogs(nullptr, std::move(owner)) {}
    NoOutlook outlook;
    AddinModule module{outlook};
    memory::MemoryRegistry registry;
    paths::WindowsPathRules paths;
    memory::MemorySettingsStore settings;
    memory::MemoryArchiveEngine archive;
    memory::StdFileStore files;
    memory::RecordingMessageBox messages;
    Win32Dialogs dialogs;
    memory::MemorySafeMailItemFactory wrappers;
    memory::RecordingShell shell;
    Connect connect{Platform{module, registry, paths, settings, archive, files, messages, dialogs, wrappers, shell}};
};

std::wstring Text(HWND window) {
    wchar_t text[512] = {};
    ::SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return text;
}

// A window on the dialog's thread that notes the last ticket it was posted: everything posted
// to that thread before the ticket has been handled by then.
std::atomic<WPARAM> gSettled = 0;

LRESULT CALLBACK BarrierProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        gSettled = wParam;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeBarrier() {
    static const ATOM atom = [] {
        WNDCLASSW type{};
        type.lpfnWndProc = &BarrierProc;
        type.lpszClassName = L"VexaTestBarrier";
        return ::RegisterClassW(&type);
    }();
    return ::CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(atom)), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

// The user, on a thread of its own. Failures are collected and checked on the test's thread.
class User {
public:
    User(const FormLayout& layout, DWORD dialogThread, HWND barrier)
        : layout_(layout), dialogThread_(dialogThread), barrier_(barrier) {}

    HWND Dialog() {
        for (int tries = 0; tries < 500 && !dialog_; ++tries) {
            HWND found = ::FindWindowW(L"#32770", Utf8ToWide(layout_.caption).c_str());
            if (found && ::IsWindowVisible(found)) dialog_ = found;
            else std::this_thread::sleep_for(20ms);
        }
        if (!dialog_) Fail("the dialog never appeared");
        return dialog_;
    }
    HWND Control(const std::string& name) { return ::GetDlgItem(Dialog(), Win32Dialogs::ControlId(layout_, name)); }

    // Characters as the keyboard's WM_CHAR would bring them, one at a time.
    void Type(const std::string& name, const std::wstring& text) {
        for (wchar_t c : text) ::SendMessageW(Control(name), WM_CHAR, c, 1);
    }
    // A key through the dialog's message loop, where the dialog manager sees it first.
    void Key(WORD key) {
        HWND target = Focus();
        ::PostMessageW(target, WM_KEYDOWN, key, 1);
        ::PostMessageW(target, WM_KEYUP, key, 0xC0000001);
    }
    // Keys as the keyboard sends them, modifiers included, to the window that has the focus.
    void Press(std::initializer_list<WORD> keys) {
        std::vector<INPUT> input;
        for (WORD key : keys) input.push_back(KeyInput(key, 0));
        for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) input.push_back(KeyInput(*it, KEYEVENTF_KEYUP));
        ::SetForegroundWindow(Dialog());
        ::SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
        // Input is read after posted messages: give it time to be read before settling.
        std::this_thread::sleep_for(200ms);
        Settle();
    }
    void Click(const std::string& name) { ::PostMessageW(Control(name), BM_CLICK, 0, 0); }
    void CloseBox() { ::PostMessageW(Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }
    // Waits until the dialog's thread has handled every message posted to it so far.
    void Settle() {
        const WPARAM ticket = ++tickets_;
        ::PostMessageW(barrier_, WM_APP, ticket, 0);
        for (int tries = 0; tries < 500 && gSettled.load() < ticket; ++tries) std::this_thread::sleep_for(10ms);
    }
    HWND Focus() {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        ::GetGUIThreadInfo(dialogThread_, &info);
        return info.hwndFocus;
    }
    // True once the dialog is gone; the user closes it by its close box after a few seconds,
    // so a dialog that ignores the script fails the test instead of hanging it.
    bool WaitUntilClosed() {
        for (int tries = 0; tries < 250; ++tries) {
            if (!dialog_ || !::IsWindow(dialog_)) return true;
            std::this_thread::sleep_for(20ms);
        }
        Fail("the dialog was still open");
        ::PostMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
        return false;
    }
    bool Open() { return dialog_ && ::IsWindow(dialog_) && ::IsWindowVisible(dialog_); }

    void Fail(const std::string& what) { failures_.push_back(what); }
    const std::vector<std::string>& Failures() const { return failures_; }

private:
    static INPUT KeyInput(WORD key, DWORD flags) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = flags;
        return input;
    }

    const FormLayout& layout_;
    DWORD dialogThread_;
    HWND barrier_;
    WPARAM tickets_ = gSettled.load();
    HWND dialog_ = nullptr;
    std::vector<std::string> failures_;
};

// Shows the dialog with `play` acting as the user; returns what the user thread saw go wrong.
std::vector<std::string> Play(const FormLayout& layout, const std::function<void()>& show,
                              const std::function<void(User&)>& play) {
    HWND barrier = MakeBarrier();
    User user(layout, ::GetCurrentThreadId(), barrier);
    std::thread thread([&] {
        user.Dialog();
        play(user);
        user.WaitUntilClosed();
    });
    show();
    thread.join();
    ::DestroyWindow(barrier);
    return user.Failures();
}

std::string Describe(AddIn& addin, const std::function<void(User&)>& play) {
    std::string result;
    const auto failures = Play(frmDescription().Layout(), [&] { result = addin.connect.OpenDescription(); }, play);
    EXPECT_TRUE(failures.empty()) << failures.front();
    return result;
}

void ShowOptions(AddIn& addin, const std::function<void(User&)>& play) {
    const auto failures =
        Play(addin.connect.Options().Layout(), [&] { addin.dialogs.ShowModal(addin.connect.Options()); }, play);
    EXPECT_TRUE(failures.empty()) << failures.front();
}

int Pixels(int twips, int dotsPerInch) { return ::MulDiv(twips, dotsPerInch, 1440); }

int ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

// The dialog as it is on the screen, as a 24-bit BMP. Returns how many colours it holds, so a
// capture of nothing shows up as one colour.
std::size_t SaveScreenshot(HWND window, const std::string& name) {
    RECT place{};
    ::GetWindowRect(window, &place);
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, place.left, place.top, SRCCOPY);
    ::SelectObject(memory, old);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    std::vector<char> pixels(stride * static_cast<std::size_t>(height));
    ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
                DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);

    const char* folder = std::getenv("VEXA_SCREENSHOTS");
    const std::filesystem::path path = std::filesystem::path(folder ? folder : ".") / name;
    std::filesystem::create_directories(path.parent_path());
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));

    std::set<std::uint32_t> colours;
    for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
        colours.insert(static_cast<std::uint8_t>(pixels[i]) | static_cast<std::uint8_t>(pixels[i + 1]) << 8 |
                       static_cast<std::uint8_t>(pixels[i + 2]) << 16);
    }
    return colours.size();
}

// ---- The description prompt -------------------------------------------------------------

TEST(DescriptionPrompt, EnterTheCloseBoxEscAndCancelGiveTheirResults) {
    const struct {
        const char* name;
        std::wstring typed;
        std::function<void(User&)> leave;
        std::string result;
    } cases[] = {
        {"Enter returns the text as typed", L"Quote for ACME", [](User& u) { u.Key(VK_RETURN); }, "Quote for ACME"},
        {"Enter on an empty box", L"", [](User& u) { u.Key(VK_RETURN); }, "(no description)"},
        {"the OK button", L"Invoice 7", [](User& u) { u.Click("bOk"); }, "Invoice 7"},
        {"Esc after typing", L"never kept", [](User& u) { u.Key(VK_ESCAPE); }, ""},
        {"Cancel after typing", L"never kept", [](User& u) { u.Click("bCancel"); }, ""},
        {"the close box after typing", L"lost", [](User& u) { u.CloseBox(); }, "(no description)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AddIn addin;
        EXPECT_EQ(Describe(addin,
                           [&](User& user) {
                               user.Type("tDescription", c.typed);
                               user.Settle();
                               c.leave(user);
                           }),
                  c.result);
    }
}

TEST(DescriptionPrompt, TakesAHundredCharactersAndNoMore) {
    AddIn addin;
    std::wstring shown;
    const std::string result = Describe(addin, [&](User& user) {
        user.Type("tDescription", std::wstring(100, L'x') + L"y");
        shown = Text(user.Control("tDescription"));
        user.Key(VK_RETURN);
    });
    EXPECT_EQ(shown, std::wstring(100, L'x'));
    EXPECT_EQ(result, std::string(100, 'x'));
}

TEST(DescriptionPrompt, CtrlEnterBreaksTheLineAndEnterStillConfirms) {
    AddIn addin;
    const std::string result = Describe(addin, [](User& user) {
        user.Type("tDescription", L"first line");
        user.Settle();
        user.Press({VK_CONTROL, VK_RETURN});
        user.Settle();
        user.Type("tDescription", L"second line");
        user.Settle();
        user.Key(VK_RETURN);
    });
    EXPECT_EQ(result, "first line\r\nsecond line");
}

TEST(DescriptionPrompt, WindowFocusTooltipAndScreenshot) {
    AddIn addin;
    const FormLayout& layout = frmDescription().Layout();
    const int dpi = ScreenDpi();
    RECT client{};
    LONG_PTR style = 0;
    std::string focus;
    std::wstring tooltip;
    bool okIsDefault = false;
    std::size_t colours = 0;
    Describe(addin, [&](User& user) {
        HWND dialog = user.Dialog();
        ::GetClientRect(dialog, &client);
        style = ::GetWindowLongPtrW(dialog, GWL_STYLE);
        focus = user.Focus() == user.Control("tDescription") ? "tDescription" : "elsewhere";
        okIsDefault = (::GetWindowLongPtrW(user.Control("bOk"), GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
        HWND tips = ::FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr);
        while (tips && ::GetWindow(tips, GW_OWNER) != dialog) tips = ::FindWindowExW(nullptr, tips, TOOLTIPS_CLASSW, nullptr);
        if (tips) {
            wchar_t text[256] = {};
            TTTOOLINFOW tool{};
            tool.cbSize = TTTOOLINFOW_V2_SIZE;
            tool.hwnd = dialog;
            tool.uId = reinterpret_cast<UINT_PTR>(user.Control("tDescription"));
            tool.lpszText = text;
            ::SendMessageW(tips, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
            tooltip = text;
        }
        user.Type("tDescription", L"Contract, signed copy");
        std::this_thread::sleep_for(300ms);  // let it paint
        colours = SaveScreenshot(dialog, "description-prompt.bmp");
        user.Key(VK_ESCAPE);
    });
    EXPECT_EQ(client.right, Pixels(layout.clientWidth, dpi));
    EXPECT_EQ(client.bottom, Pixels(layout.clientHeight, dpi));
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    EXPECT_NE(style & WS_SYSMENU, 0);
    EXPECT_EQ(focus, "tDescription");
    EXPECT_TRUE(okIsDefault);
    EXPECT_EQ(tooltip, L"Type your fax message description here. Do NOT hit enter until done");
    EXPECT_GT(colours, 2u);
}

// Owned by Outlook's window, a dialog keeps that window disabled while it is up: no second send
// or toolbar click starts beneath it.
TEST(DescriptionPrompt, IsOwnedByOutlooksActiveWindowWhichWaitsDisabled) {
    HWND outlook = ::CreateWindowExW(0, L"STATIC", L"Outlook", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 400, 300,
                                     nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(outlook, nullptr);
    AddIn given([outlook] { return outlook; });
    AddIn byDefault;
    const struct {
        const char* name;
        AddIn& addin;
    } cases[] = {{"the window given", given}, {"the thread's active window", byDefault}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::SetActiveWindow(outlook);
        HWND owner = nullptr;
        bool outlookEnabled = true;
        Describe(c.addin, [&](User& user) {
            owner = ::GetWindow(user.Dialog(), GW_OWNER);
            outlookEnabled = ::IsWindowEnabled(outlook) != FALSE;
            user.Key(VK_ESCAPE);
        });
        EXPECT_EQ(owner, outlook);
        EXPECT_FALSE(outlookEnabled);
        EXPECT_TRUE(::IsWindowEnabled(outlook));
    }
    ::DestroyWindow(outlook);
}

// ---- The options dialog -----------------------------------------------------------------

std::vector<std::string> OptionWrites(const AddIn& addin) { return addin.settings.Writes(); }

TEST(OptionsDialog, EnterInACriteriaBoxSavesAllSixAndCloses) {
    AddIn addin;
    ShowOptions(addin, [](User& user) {
        ::SendMessageW(user.Control("tInCriteria"), EM_SETSEL, 0, -1);
        user.Type("tInCriteria", L"fax@service.example");
        user.Settle();
        user.Key(VK_RETURN);
    });
    EXPECT_FALSE(addin.connect.Options().Visible());
    EXPECT_EQ(addin.settings.Value("Options", "InCriteria"), "fax@service.example");
    EXPECT_EQ(OptionWrites(addin).size(), 6u);
}

TEST(OptionsDialog, CancelAndEscSaveNothing) {
    AddIn addin;
    const std::string stored = addin.connect.Options().Text("tInCriteria");
    bool openAfterEsc = false;
    ShowOptions(addin, [&](User& user) {
        user.Type("tInCriteria", L"-edited");
        user.Key(VK_ESCAPE);
        user.Type("tInCriteria", L"!");  // handled after the Esc
        user.Settle();
        openAfterEsc = user.Open();
        user.Click("CancelButton");
    });
    EXPECT_TRUE(openAfterEsc);
    EXPECT_TRUE(OptionWrites(addin).empty());
    EXPECT_EQ(addin.connect.Options().Text("tInCriteria"), stored);
}

TEST(OptionsDialog, TheFolderFieldFollowsTheOptionButtons) {
    AddIn addin;
    struct Seen {
        bool folderEnabled, labelEnabled;
        std::wstring folder;
    };
    std::vector<Seen> seen;
    ShowOptions(addin, [&](User& user) {
        auto look = [&] {
            user.Settle();
            seen.push_back({::IsWindowEnabled(user.Control("tFolder")) != FALSE,
                            ::IsWindowEnabled(user.Control("lFolder")) != FALSE, Text(user.Control("tFolder"))});
        };
        look();
        user.Click("rbDelete");
        look();
        user.Click("rbStore");
        look();
        user.Click("rbDelete");
        user.Click("OKButton");
    });
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[0].folderEnabled && seen[0].labelEnabled);
    EXPECT_FALSE(seen[1].folderEnabled || seen[1].labelEnabled);
    EXPECT_TRUE(seen[2].folderEnabled && seen[2].labelEnabled);
    EXPECT_EQ(seen[2].folder, L"VX2 Messages");  // the text survives being disabled
    EXPECT_EQ(addin.settings.Value("Options", "StoreInMessages"), "False");

    // Reopened: the delete choice is shown, the folder field disabled.
    bool deleteChecked = false, folderEnabled = true;
    ShowOptions(addin, [&](User& user) {
        deleteChecked = ::SendMessageW(user.Control("rbDelete"), BM_GETCHECK, 0, 0) == BST_CHECKED;
        folderEnabled = ::IsWindowEnabled(user.Control("tFolder")) != FALSE;
        user.Click("CancelButton");
    });
    EXPECT_TRUE(deleteChecked);
    EXPECT_FALSE(folderEnabled);
}

TEST(OptionsDialog, TheCloseBoxDiscardsEditsAndTheNextShowLoadsTheStore) {
    AddIn addin;
    ShowOptions(addin, [](User& user) {
        user.Type("tOutCriteria", L"-edited");
        user.Click("chDescription");
        user.Settle();
        user.CloseBox();
    });
    EXPECT_TRUE(OptionWrites(addin).empty());
    std::wstring shown;
    ShowOptions(addin, [&](User& user) {
        shown = Text(user.Control("tOutCriteria"));
        user.Click("CancelButton");
    });
    EXPECT_EQ(WideToUtf8(shown), addin.settings.GetSetting("Vexa - Message Manager", "Options", "OutCriteria",
                                                           addin.connect.Options().Text("tOutCriteria")));
    EXPECT_EQ(shown.find(L"-edited"), std::wstring::npos);
}

TEST(OptionsDialog, TabOrderAccessKeysLayoutAndScreenshot) {
    AddIn addin;
    const FormLayout& layout = addin.connect.Options().Layout();
    const int dpi = ScreenDpi();
    std::vector<std::string> tabOrder;
    std::string afterAltC, afterAltO;
    RECT folder{};
    RECT client{};
    bool hasIcon = false;
    std::size_t colours = 0;
    ShowOptions(addin, [&](User& user) {
        HWND dialog = user.Dialog();
        auto name = [&](HWND window) {
            for (const auto& control : layout.controls) {
                if (user.Control(control.name) == window) return control.name;
            }
            return std::string("?");
        };
        // The tab stops in the order Tab walks them. Of an option group only the selected
        // button is one (the system moves the stop with the selection): here rbStore.
        for (HWND at = ::GetWindow(dialog, GW_CHILD); at; at = ::GetWindow(at, GW_HWNDNEXT)) {
            if (::GetWindowLongPtrW(at, GWL_STYLE) & WS_TABSTOP) tabOrder.push_back(name(at));
        }
        ::PostMessageW(user.Focus(), WM_SYSCHAR, L'c', 0x20000001);
        user.Settle();
        afterAltC = name(user.Focus());
        ::PostMessageW(user.Focus(), WM_SYSCHAR, L'o', 0x20000001);
        user.Settle();
        afterAltO = name(user.Focus());
        ::GetWindowRect(user.Control("tFolder"), &folder);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&folder), 2);
        ::GetClientRect(dialog, &client);
        hasIcon = ::SendMessageW(dialog, WM_GETICON, ICON_BIG, 0) != 0;
        std::this_thread::sleep_for(300ms);
        colours = SaveScreenshot(dialog, "options-dialog.bmp");
        user.Click("CancelButton");
    });
    EXPECT_EQ(tabOrder, (std::vector<std::string>{"tInCriteria", "tConfirmCriteria", "tOutCriteria", "rbStore", "tFolder",
                                                   "chDescription", "OKButton", "CancelButton"}));
    EXPECT_EQ(afterAltC, "tConfirmCriteria");
    EXPECT_EQ(afterAltO, "tOutCriteria");
    // tFolder sits in its frame: 4240 + 480, 120 + 1250 twips from the client area's corner.
    EXPECT_EQ(folder.left, Pixels(4240 + 480, dpi));
    EXPECT_EQ(folder.top, Pixels(120 + 1250, dpi));
    EXPECT_EQ(folder.right - folder.left, Pixels(2895, dpi));
    EXPECT_EQ(client.right, Pixels(8055, dpi));
    EXPECT_EQ(client.bottom, Pixels(3225, dpi));
    EXPECT_TRUE(hasIcon);
    EXPECT_GT(colours, 2u);
}

}  // namespace
}  // namespace vexa::windows
