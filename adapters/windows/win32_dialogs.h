// The add-in's dialogs as real Win32 dialogs. Each form's layout becomes an in-memory dialog
// template; places and sizes are given in twips and converted to pixels at the screen's DPI when
// the dialog opens, as a form designer's twips always were. The form stays the one source of
// truth: every click, keystroke and close goes to the form, and the controls are then redrawn
// from it, so the options dialog's live values and the description's limits behave the same here
// as in the tests of the core.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "dialogs/dialog_form.h"

namespace vexa::windows {

class Win32Dialogs final : public DialogToolkit {
public:
    // Icons named by a layout are looked up among `resources`' icon resources; null means the
    // module this adapter is linked into (the add-in's DLL, or a test program). `owner` names the
    // window each dialog is shown over, asked anew for every dialog; by default the calling
    // thread's active window, which in Outlook is the explorer or the message window the user is
    // working in.
    explicit Win32Dialogs(HINSTANCE resources = nullptr, std::function<HWND()> owner = &::GetActiveWindow);

    // Modal over the owner window, which stays disabled until the dialog closes (none when the
    // owner function gives null), centred on the screen. Fails (HostError) only when the dialog
    // cannot be created; what the user does is the form's business.
    void ShowModal(DialogForm& form) override;

    // The control ID a layout's control gets, so tests (and accessibility tools) can find it.
    static int ControlId(const FormLayout& layout, const std::string& control);

private:
    HINSTANCE resources_;
    std::function<HWND()> owner_;
};

}  // namespace vexa::windows
