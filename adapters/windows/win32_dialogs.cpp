#include "adapters/windows/win32_dialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <map>
#include <vector>

#include "adapters/windows/win32_error.h"

namespace vexa::windows {
namespace {

constexpr int kFirstControlId = 1000;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
// Fixed size, caption and close box, no minimise or maximise box.
constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

// An in-memory dialog template: DLGTEMPLATE, then one DLGITEMTEMPLATE per control, each on a
// DWORD boundary, strings as UTF-16 words.
class DialogTemplate {
public:
    DialogTemplate(const std::wstring& caption, short width, short height) {
        PutDword(kDialogStyle);
        PutDword(0);
        countAt_ = words_.size();
        words_.push_back(0);
        PutShort(0);
        PutShort(0);
        PutShort(width);
        PutShort(height);
        words_.push_back(0);  // no menu
        words_.push_back(0);  // the standard dialog class
        PutString(caption);
        // The form designer's own font, which the twips of every layout were measured against.
        words_.push_back(8);
        PutString(L"MS Sans Serif");
    }

    void Add(WORD windowClass, DWORD style, DWORD exStyle, short x, short y, short cx, short cy, int id,
             const std::wstring& text) {
        if (words_.size() % 2) words_.push_back(0);
        PutDword(style | WS_CHILD | WS_VISIBLE);
        PutDword(exStyle);
        PutShort(x);
        PutShort(y);
        PutShort(cx);
        PutShort(cy);
        words_.push_back(static_cast<WORD>(id));
        words_.push_back(0xFFFF);
        words_.push_back(windowClass);
        PutString(text);
        words_.push_back(0);  // no creation data
        ++words_[countAt_];
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void PutDword(DWORD value) {
        words_.push_back(LOWORD(value));
        words_.push_back(HIWORD(value));
    }
    void PutShort(short value) { words_.push_back(static_cast<WORD>(value)); }
    void PutString(const std::wstring& text) {
        words_.insert(words_.end(), text.begin(), text.end());
        words_.push_back(0);
    }

    // The buffer starts DWORD-aligned because vector storage is aligned for any scalar.
    std::vector<WORD> words_;
    std::size_t countAt_ = 0;
};

// The template's own units are only a first guess (dialog units of an 8-point font); the dialog
// is laid out again in pixels from the twips once it exists.
short TwipsToDialogUnitsX(int twips) { return static_cast<short>(twips * 4 / 90); }
short TwipsToDialogUnitsY(int twips) { return static_cast<short>(twips * 8 / 195); }

int TwipsToPixels(int twips, int dotsPerInch) { return ::MulDiv(twips, dotsPerInch, 1440); }

// The order controls are created in is both their tab order and the order in which a label's
// access key looks for the control it leads to: each frame comes before what it holds, each
// label straight before its target, and what takes no focus and leads nowhere comes last.
std::vector<std::size_t> CreationOrder(const FormLayout& layout) {
    const auto& controls = layout.controls;
    std::vector<std::size_t> focusable;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].tabIndex >= 0) focusable.push_back(i);
    }
    std::stable_sort(focusable.begin(), focusable.end(),
                     [&](std::size_t a, std::size_t b) { return controls[a].tabIndex < controls[b].tabIndex; });
    std::vector<std::size_t> order;
    std::vector<bool> placed(controls.size(), false);
    auto place = [&](std::size_t i) {
        if (placed[i]) return;
        placed[i] = true;
        order.push_back(i);
    };
    for (std::size_t target : focusable) {
        for (std::size_t i = 0; i < controls.size(); ++i) {
            const bool isItsFrame = controls[i].kind == ControlKind::Frame && controls[i].name == controls[target].container;
            if (isItsFrame) place(i);
        }
        for (std::size_t i = 0; i < controls.size(); ++i) {
            if (controls[i].accessKeyTarget == controls[target].name) place(i);
        }
        place(target);
    }
    for (std::size_t i = 0; i < controls.size(); ++i) place(i);
    return order;
}

struct ControlWindow {
    const ControlInfo* info;
    int id;
};

// What the dialog procedure needs while the dialog is up; lives on ShowModal's stack.
struct DialogState {
    DialogForm& form;
    const FormLayout& layout;
    HINSTANCE resources;
    std::vector<ControlWindow> controls;
    std::vector<std::wstring> tooltips;  // the tooltip control keeps pointers into these
    bool refreshing = false;
    std::exception_ptr failure;

    const ControlWindow* ById(int id) const {
        for (const auto& control : controls) {
            if (control.id == id) return &control;
        }
        return nullptr;
    }
};

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Puts the form's state on the screen: texts, option and check values, enabled controls.
void Refresh(HWND dialog, DialogState& state) {
    state.refreshing = true;
    for (const auto& control : state.controls) {
        HWND window = ::GetDlgItem(dialog, control.id);
        const std::string& name = control.info->name;
        ::EnableWindow(window, state.form.Enabled(name) ? TRUE : FALSE);
        switch (control.info->kind) {
        case ControlKind::TextBox: {
            const std::wstring text = Utf8ToWide(state.form.Text(name));
            if (text != WindowText(window)) ::SetWindowTextW(window, text.c_str());
            break;
        }
        case ControlKind::OptionButton:
        case ControlKind::CheckBox:
            ::SendMessageW(window, BM_SETCHECK, static_cast<WPARAM>(state.form.Value(name)), 0);
            break;
        default:
            break;
        }
    }
    state.refreshing = false;
}

void AddTooltips(HWND dialog, DialogState& state) {
    HWND tips = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr, nullptr, nullptr);
    if (!tips) return;  // a dialog without tooltips still works
    state.tooltips.reserve(state.controls.size());
    for (const auto& control : state.controls) {
        if (control.info->tooltip.empty()) continue;
        state.tooltips.push_back(Utf8ToWide(control.info->tooltip));
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;  // also understood by the older common controls
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = dialog;
        tool.uId = reinterpret_cast<UINT_PTR>(::GetDlgItem(dialog, control.id));
        tool.lpszText = state.tooltips.back().data();
        ::SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

// The twips of the layout, in pixels at the screen's DPI: the client area, then every control,
// a frame's contents offset by their frame's place.
void LayOut(HWND dialog, const DialogState& state) {
    HDC screen = ::GetDC(nullptr);
    const int dpiX = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    const int dpiY = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);

    RECT frame{0, 0, TwipsToPixels(state.layout.clientWidth, dpiX), TwipsToPixels(state.layout.clientHeight, dpiY)};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    ::SetWindowPos(dialog, nullptr, work.left + std::max(0L, (work.right - work.left - width) / 2),
                   work.top + std::max(0L, (work.bottom - work.top - height) / 2), width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);

    for (const auto& control : state.controls) {
        Twips place = control.info->place;
        if (const ControlInfo* container = FindControl(state.layout, control.info->container)) {
            place.left += container->place.left;
            place.top += container->place.top;
        }
        ::MoveWindow(::GetDlgItem(dialog, control.id), TwipsToPixels(place.left, dpiX), TwipsToPixels(place.top, dpiY),
                     TwipsToPixels(place.width, dpiX), TwipsToPixels(place.height, dpiY), TRUE);
    }
}

void Initialise(HWND dialog, DialogState& state) {
    LayOut(dialog, state);
    for (const auto& control : state.controls) {
        if (control.info->kind == ControlKind::TextBox && control.info->maxLength > 0) {
            ::SendDlgItemMessageW(dialog, control.id, EM_LIMITTEXT, static_cast<WPARAM>(control.info->maxLength), 0);
        }
    }
    AddTooltips(dialog, state);
    if (!state.layout.icon.empty()) {
        const std::wstring name = Utf8ToWide(state.layout.icon);
        for (auto [size, metric] : {std::pair{ICON_BIG, SM_CXICON}, std::pair{ICON_SMALL, SM_CXSMICON}}) {
            const int pixels = ::GetSystemMetrics(metric);
            if (HANDLE icon = ::LoadImageW(state.resources, name.c_str(), IMAGE_ICON, pixels, pixels, LR_SHARED)) {
                ::SendMessageW(dialog, WM_SETICON, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(icon));
            }
        }
    }
    if (!state.layout.defaultButton.empty()) {
        ::SendMessageW(dialog, DM_SETDEFID, static_cast<WPARAM>(Win32Dialogs::ControlId(state.layout, state.layout.defaultButton)), 0);
    }
    Refresh(dialog, state);
}

// One thing the user did, handed to the form; true when the form is done with the dialog.
bool Handle(HWND dialog, DialogState& state, int id, int code, HWND from) {
    if (id == IDOK && !from) {
        state.form.PressEnter();
    } else if (id == IDCANCEL) {
        // Esc. A form without a cancel button ignores it.
        state.form.PressEscape();
    } else if (const ControlWindow* control = state.ById(id)) {
        if (control->info->kind == ControlKind::TextBox) {
            if (code != EN_CHANGE || state.refreshing) return false;
            state.form.SetText(control->info->name, WideToUtf8(WindowText(from)));
        } else if (code == BN_CLICKED) {
            state.form.Click(control->info->name);
        } else {
            return false;
        }
    } else {
        return false;
    }
    if (!state.form.Visible()) return true;
    Refresh(dialog, state);
    return false;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    // Nothing may unwind through the window manager: a failure ends the dialog and is rethrown
    // by ShowModal.
    try {
        switch (message) {
        case WM_INITDIALOG: {
            state = reinterpret_cast<DialogState*>(lParam);
            ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            Initialise(dialog, *state);
            const std::string& first = state->layout.initialFocus;
            if (first.empty()) return TRUE;
            ::SetFocus(::GetDlgItem(dialog, Win32Dialogs::ControlId(state->layout, first)));
            return FALSE;
        }
        case WM_COMMAND:
            if (state && Handle(dialog, *state, LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))) {
                ::EndDialog(dialog, IDOK);
            }
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != SC_CLOSE) return FALSE;
            // The close box (or Alt+F4): the form decides what is lost; the dialog goes either way.
            if (state) state->form.CloseBox();
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        case WM_CLOSE:
            // Not the close box, which arrives above: a multi-line text box asks its dialog to
            // close when Esc is pressed in it, so this is Esc where the form has a cancel button.
            if (!state) return TRUE;
            if (state->layout.cancelButton.empty()) {
                state->form.CloseBox();
                ::EndDialog(dialog, IDCANCEL);
            } else if (Handle(dialog, *state, IDCANCEL, 0, nullptr)) {
                ::EndDialog(dialog, IDCANCEL);
            }
            return TRUE;
        default:
            return FALSE;
        }
    } catch (...) {
        if (state) state->failure = std::current_exception();
        ::EndDialog(dialog, IDABORT);
        return TRUE;
    }
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&DialogProc), &module);
    return module;
}

// The tooltip class of the common controls. The library is loaded by its full path in the system
// folder, not imported: Windows looks for an add-in's imports in the add-in's own folder first,
// where users of the machine may create files (the archive's lock file lives there).
void RegisterCommonControls() {
    std::wstring path(MAX_PATH, L'\0');
    const UINT length = ::GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (length == 0 || length >= path.size()) return;
    path.resize(length);
    const HMODULE library = ::LoadLibraryW((path + L"\\comctl32.dll").c_str());
    if (!library) return;  // no tooltips, the dialogs work without them
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_WIN95_CLASSES};
    // The library stays loaded: the tooltip windows' class lives in it.
    if (init) init(&classes);
}

}  // namespace

Win32Dialogs::Win32Dialogs(HINSTANCE resources, std::function<HWND()> owner)
    : resources_(resources ? resources : ThisModule()), owner_(std::move(owner)) {
    RegisterCommonControls();
}

int Win32Dialogs::ControlId(const FormLayout& layout, const std::string& control) {
    for (std::size_t i = 0; i < layout.controls.size(); ++i) {
        if (layout.controls[i].name == control) return kFirstControlId + static_cast<int>(i);
    }
    return 0;
}

void Win32Dialogs::ShowModal(DialogForm& form) {
    const FormLayout& layout = form.Layout();
    DialogState state{form, layout, resources_, {}, {}, false, nullptr};
    DialogTemplate dialog(Utf8ToWide(layout.caption), TwipsToDialogUnitsX(layout.clientWidth),
                          TwipsToDialogUnitsY(layout.clientHeight));
    bool previousWasOption = false;
    for (std::size_t index : CreationOrder(layout)) {
        const ControlInfo& control = layout.controls[index];
        const int id = ControlId(layout, control.name);
        WORD windowClass = kButtonClass;
        DWORD style = 0;
        DWORD exStyle = 0;
        switch (control.kind) {
        case ControlKind::Frame:
            style = BS_GROUPBOX;
            break;
        case ControlKind::Label:
            windowClass = kStaticClass;
            style = SS_LEFT;
            break;
        case ControlKind::TextBox:
            windowClass = kEditClass;
            // Without ES_WANTRETURN a multi-line box leaves Enter to the default button and
            // takes Ctrl+Enter as a line break.
            style = WS_BORDER | (control.multiLine ? ES_MULTILINE | ES_AUTOVSCROLL : ES_AUTOHSCROLL);
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::OptionButton:
            // Not automatic: the form selects, the dialog shows what it selected.
            style = BS_RADIOBUTTON;
            break;
        case ControlKind::CheckBox:
            style = BS_3STATE;
            break;
        case ControlKind::CommandButton:
            style = control.name == layout.defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
            break;
        }
        const bool isOption = control.kind == ControlKind::OptionButton;
        // A run of option buttons is one group; every other control starts a group of its own.
        if (!(isOption && previousWasOption)) style |= WS_GROUP;
        previousWasOption = isOption;
        if (control.tabIndex >= 0) style |= WS_TABSTOP;
        const std::wstring text = control.kind == ControlKind::TextBox ? std::wstring() : Utf8ToWide(control.caption);
        dialog.Add(windowClass, style, exStyle, TwipsToDialogUnitsX(control.place.left),
                   TwipsToDialogUnitsY(control.place.top), TwipsToDialogUnitsX(control.place.width),
                   TwipsToDialogUnitsY(control.place.height), id, text);
        state.controls.push_back({&control, id});
    }

    // Owned by the window the user works in, which the dialog disables while it is up: no second
    // send or command starts beneath it.
    HWND owner = owner_ ? owner_() : nullptr;
    form.Show();
    const INT_PTR result =
        ::DialogBoxIndirectParamW(resources_, dialog.Get(), owner, &DialogProc, reinterpret_cast<LPARAM>(&state));
    if (state.failure) std::rethrow_exception(state.failure);
    if (result == -1) throw Win32Error("Can't show the dialog \"" + layout.caption + "\"", ::GetLastError());
}

}  // namespace vexa::windows
