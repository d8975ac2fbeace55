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
    lFolder.Enabled = true;
}

void frmOptions::SelectDelete() {
    rbDelete.Value = true;
    rbStore.Value = false;
    tFolder.Enabled = false;
    lFolder.Enabled = false;
}

}  // namespace vexa
