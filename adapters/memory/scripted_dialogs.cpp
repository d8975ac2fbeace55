#include "adapters/memory/scripted_dialogs.h"

#include <stdexcept>

namespace vexa::memory {

void ScriptedDialogs::ShowModal(DialogForm& form) {
    if (failure_) {
        HostError failure = std::move(*failure_);
        failure_.reset();
        throw failure;
    }
    if (scripts_.empty()) throw std::logic_error("a dialog was shown that no test script expected");
    Script script = std::move(scripts_.front());
    scripts_.pop_front();
    shown_.push_back(form.Layout().caption);
    const std::weak_ptr<const void> lifetime = form.Lifetime();
    form.Show();
    script(form);
    // A real toolkit would go on using the destroyed form here.
    if (lifetime.expired()) throw std::logic_error("the form was destroyed while it was on screen");
    if (form.Visible()) throw std::logic_error("the test script left the modal dialog open");
}

}  // namespace vexa::memory
