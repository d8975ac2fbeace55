#include "dialogs/dialog_form.h"

namespace vexa {

const ControlInfo* FindControl(const FormLayout& layout, const std::string& name) {
    for (const auto& control : layout.controls) {
        if (control.name == name) return &control;
    }
    return nullptr;
}

}  // namespace vexa
