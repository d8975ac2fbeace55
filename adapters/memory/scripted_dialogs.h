// A dialog toolkit for tests: each modal dialog shown is handed to the next script in line, which
// plays the user (types, clicks, presses Enter or Esc, closes the window). A script that leaves
// the dialog on screen is a broken test, as a real modal dialog would never return.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/dialog_form.h"
#include "host/host_error.h"

namespace vexa::memory {

class ScriptedDialogs final : public DialogToolkit {
public:
    using Script = std::function<void(DialogForm&)>;

    // The user's part in the next dialog shown.
    void Then(Script script) { scripts_.push_back(std::move(script)); }
    // The next dialog cannot be shown at all.
    void FailNext(HostError failure) { failure_ = std::move(failure); }

    void ShowModal(DialogForm& form) override;

    // Captions of the dialogs shown, in order.
    const std::vector<std::string>& Shown() const { return shown_; }
    std::size_t Pending() const { return scripts_.size(); }

private:
    std::deque<Script> scripts_;
    std::optional<HostError> failure_;
    std::vector<std::string> shown_;
};

}  // namespace vexa::memory
