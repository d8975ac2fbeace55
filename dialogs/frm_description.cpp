#include "dialogs/frm_description.h"

#include "archive/archive_names.h"
#include "host/host_error.h"
#include "settings/setting_names.h"

namespace vexa {
namespace {

HostError NoSuchControl(const std::string& control) {
    return HostError(438, "Object doesn't support this property or method: " + control);
}

FormLayout MakeLayout() {
    FormLayout layout;
    layout.caption = settings::kAppName;
    layout.clientWidth = 4935;
    layout.clientHeight = 1545;
    // Enter anywhere, the multi-line text box included, confirms; Ctrl+Enter types a line break.
    layout.defaultButton = "bOk";
    layout.cancelButton = "bCancel";
    layout.initialFocus = "tDescription";
    using K = ControlKind;
    ControlInfo text{"tDescription", K::TextBox, "", "", {120, 400, 4695, 495},
                     "Type your fax message description here. Do NOT hit enter until done", 1};
    text.maxLength = static_cast<int>(kDescriptionLength);
    text.multiLine = true;
    layout.controls = {
        {"lPrompt", K::Label, "", "Type description for this FAX message (Hit ENTER when done):", {120, 120, 4815, 255}},
        text,
        {"bOk", K::CommandButton, "", "OK", {2280, 1080, 1215, 375}, "", 2},
        {"bCancel", K::CommandButton, "", "Cancel", {3600, 1080, 1215, 375}, "", 3},
    };
    return layout;
}

}  // namespace

const FormLayout& frmDescription::Layout() const {
    static const FormLayout layout = MakeLayout();
    return layout;
}

std::string frmDescription::Text(const std::string& control) const {
    if (control == "tDescription") return tDescription_;
    throw NoSuchControl(control);
}

void frmDescription::SetText(const std::string& control, const std::string& text) {
    if (control != "tDescription") throw NoSuchControl(control);
    tDescription_ = LeftCharacters(text, kDescriptionLength);
}

std::int32_t frmDescription::Value(const std::string& control) const { throw NoSuchControl(control); }

bool frmDescription::Enabled(const std::string& control) const {
    if (!FindControl(Layout(), control)) throw NoSuchControl(control);
    return true;
}

void frmDescription::Click(const std::string& control) {
    if (control == "bOk") {
        bCancelOn = false;
        Hide();
    } else if (control == "bCancel") {
        tDescription_.clear();
        bCancelOn = true;
        Hide();
    } else if (!FindControl(Layout(), control)) {
        throw NoSuchControl(control);
    }
}

void frmDescription::CloseBox() {
    tDescription_.clear();
    Hide();
}

}  // namespace vexa
