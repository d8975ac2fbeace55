#include "dialogs/frm_options.h"

#include "host/host_error.h"
#include "settings/conversions.h"
#include "settings/setting_names.h"

namespace vexa {
namespace {

// The check box takes 0, 1 or 2 only; the host's run-time refuses any other value this way.
std::int32_t CheckBoxValue(std::int32_t value) {
    if (value < 0 || value > 2) throw HostError(380, "Invalid property value");
    return value;
}

HostError NoSuchControl(const std::string& control) {
    return HostError(438, "Object doesn't support this property or method: " + control);
}

FormLayout MakeLayout() {
    const std::string product = settings::kAppName;
    FormLayout layout;
    layout.caption = product + " options";
    layout.clientWidth = 8055;
    layout.clientHeight = 3225;
    layout.defaultButton = "OKButton";
    layout.initialFocus = "tInCriteria";
    layout.icon = "OPTIONS";
    using K = ControlKind;
    layout.controls = {
        {"frAddresses", K::Frame, "", "Set message processing criteria", {180, 120, 3855, 2500}},
        {"lInCriteria", K::Label, "frAddresses", "&Incoming message sender:", {240, 290, 2775, 255}, "", -1,
         "tInCriteria"},
        {"tInCriteria", K::TextBox, "frAddresses", "", {240, 530, 3375, 350},
         "\"From\" Email address of incoming fax/voice messages", 0},
        {"lConfirmCriteria", K::Label, "frAddresses", "&Confirm message sender:", {240, 985, 2775, 255}, "", -1,
         "tConfirmCriteria"},
        {"tConfirmCriteria", K::TextBox, "frAddresses", "", {240, 1225, 3375, 350},
         "\"From\" Email address of fax/voice confirmation messages", 1},
        {"LOutCriteria", K::Label, "frAddresses", "&Outgoing message recipient:", {240, 1670, 2775, 255}, "", -1,
         "tOutCriteria"},
        {"tOutCriteria", K::TextBox, "frAddresses", "", {240, 1920, 3375, 350},
         "\"To\" Email address for message processing", 2},
        {"frHandling", K::Frame, "", "Additional handling of FAX/Voice messages", {4240, 120, 3615, 1840}},
        {"rbDelete", K::OptionButton, "frHandling", "Do not store copy in Outlook", {240, 350, 2535, 255},
         "Store message in seperate Outlook folder = NO", 3},
        {"rbStore", K::OptionButton, "frHandling", "Store copy in Custom Outlook folder", {240, 700, 3255, 255},
         "Store message in seperate Outlook folder = YES", 4},
        {"lFolder", K::Label, "frHandling", "&Outlook folder name to store copies in:", {480, 1005, 3015, 255}, "",
         -1, "tFolder"},
        {"tFolder", K::TextBox, "frHandling", "", {480, 1250, 2895, 350}, "Type the name of a folder here", 5},
        {"chDescription", K::CheckBox, "", "&Always ask for message description", {4240, 2160, 3015, 375},
         "Always pop up description box", 6},
        {"Label1", K::Label, "", product + "  Copyright (c) 2026 the Vexa developers", {120, 2760, 4455, 375}},
        {"OKButton", K::CommandButton, "", "OK", {5160, 2760, 1215, 375}, "", 7},
        {"CancelButton", K::CommandButton, "", "Cancel", {6600, 2760, 1215, 375}, "", 8},
    };
    return layout;
}

}  // namespace

frmOptions::frmOptions(SettingsStore& store) : store_(store) { LoadOptions(); }

void frmOptions::LoadOptions() {
    using namespace settings;
    auto read = [this](const char* key, const std::string& defaultValue) {
        return store_.GetSetting(kAppName, kOptions, key, defaultValue);
    };
    tInCriteria.Text = read(kInCriteria, kDefaultInCriteria);
    tConfirmCriteria.Text = read(kConfirmCriteria, kDefaultConfirmCriteria);
    tOutCriteria.Text = read(kOutCriteria, kDefaultOutCriteria);
    const bool store = TextToBoolean(read(kStoreInMessages, BooleanToText(true)));
    if (store) {
        SelectStore();
    } else {
        SelectDelete();
    }
    tFolder.Text = read(kStoreFolderName, kDefaultStoreFolderName);
    chDescription.Value = CheckBoxValue(TextToInteger(read(kAskDescription, IntegerToText(1))));
}

void frmOptions::SaveOptions() {
    using namespace settings;
    auto save = [this](const char* key, const std::string& value) {
        store_.SaveSetting(kAppName, kOptions, key, value);
    };
    save(kInCriteria, tInCriteria.Text);
    save(kConfirmCriteria, tConfirmCriteria.Text);
    save(kOutCriteria, tOutCriteria.Text);
    save(kStoreInMessages, BooleanToText(rbStore.Value));
    save(kStoreFolderName, tFolder.Text);
    save(kAskDescription, IntegerToText(chDescription.Value == 1 ? 1 : 0));
}

void frmOptions::SelectStore() {
    rbStore.Value = true;
    rbDelete.Value = false;
    tFolder.Enabled = true;
    tFolder.BackColor = Colour::WindowBackground;
    lFolder.Enabled = true;
}

void frmOptions::SelectDelete() {
    rbDelete.Value = true;
    rbStore.Value = false;
    tFolder.Enabled = false;
    tFolder.BackColor = Colour::ButtonFace;
    lFolder.Enabled = false;
}

const FormLayout& frmOptions::Layout() const {
    static const FormLayout layout = MakeLayout();
    return layout;
}

frmOptions::TextBox* frmOptions::FindTextBox(const std::string& control) {
    if (control == "tInCriteria") return &tInCriteria;
    if (control == "tConfirmCriteria") return &tConfirmCriteria;
    if (control == "tOutCriteria") return &tOutCriteria;
    if (control == "tFolder") return &tFolder;
    return nullptr;
}

const frmOptions::TextBox* frmOptions::FindTextBox(const std::string& control) const {
    return const_cast<frmOptions*>(this)->FindTextBox(control);
}

std::string frmOptions::Text(const std::string& control) const {
    if (const TextBox* box = FindTextBox(control)) return box->Text;
    throw NoSuchControl(control);
}

void frmOptions::SetText(const std::string& control, const std::string& text) {
    TextBox* box = FindTextBox(control);
    if (!box) throw NoSuchControl(control);
    // A disabled field takes no typing; it keeps its text.
    if (box->Enabled) box->Text = text;
}

std::int32_t frmOptions::Value(const std::string& control) const {
    if (control == "rbStore") return rbStore.Value ? 1 : 0;
    if (control == "rbDelete") return rbDelete.Value ? 1 : 0;
    if (control == "chDescription") return chDescription.Value;
    throw NoSuchControl(control);
}

bool frmOptions::Enabled(const std::string& control) const {
    if (control == "lFolder") return lFolder.Enabled;
    if (const TextBox* box = FindTextBox(control)) return box->Enabled;
    if (FindControl(Layout(), control)) return true;
    throw NoSuchControl(control);
}

void frmOptions::Click(const std::string& control) {
    if (control == "rbStore") {
        SelectStore();
    } else if (control == "rbDelete") {
        SelectDelete();
    } else if (control == "chDescription") {
        chDescription.Value = chDescription.Value == 1 ? 0 : 1;
    } else if (control == "OKButton") {
        SaveOptions();
        Hide();
    } else if (control == "CancelButton") {
        LoadOptions();
        Hide();
    } else if (!FindControl(Layout(), control)) {
        throw NoSuchControl(control);
    }
}

void frmOptions::CloseBox() {
    unloaded_ = true;
    Hide();
}

}  // namespace vexa
