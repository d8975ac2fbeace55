// Message boxes on Windows: the system's own box with an OK button and no icon. The add-in's
// platform wiring hands one to every handler that reports to the user.
#pragma once

#include <string>

#include "dialogs/message_box.h"

namespace vexa::windows {

class WindowsMessageBox final : public MessageBoxService {
public:
    // Task-modal and without an owner: Outlook's windows on this thread wait until it is closed.
    // A box that cannot be shown is skipped, since the callers report from their error paths.
    void Show(const std::string& text, const std::string& title) override;
};

}  // namespace vexa::windows
