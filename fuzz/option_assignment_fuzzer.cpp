// One `--set KEY=VALUE` of `vexa options`, on any argument a shell can pass: it sets exactly the
// control of its key to exactly its value, or it is refused as a usage error and changes nothing.

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

#include "apps/vexa/cli.h"
#include "apps/vexa/option_assignment.h"
#include "fuzz/fuzz_support.h"
#include "settings/setting_names.h"

namespace {

using vexa::fuzz::Check;

// A store that has nothing saved, so the dialog loads the defaults; saving is not under test.
class EmptyStore final : public vexa::SettingsStore {
public:
    std::string GetSetting(const std::string&, const std::string&, const std::string&,
                           const std::string& defaultValue) override {
        return defaultValue;
    }
    void SaveSetting(const std::string&, const std::string&, const std::string&, const std::string&) override {}
};

// Everything an assignment can change, to compare before and after.
auto State(const vexa::frmOptions& form) {
    return std::make_tuple(form.tInCriteria.Text, form.tConfirmCriteria.Text, form.tOutCriteria.Text, form.tFolder.Text,
                           form.tFolder.Enabled, form.tFolder.BackColor, form.lFolder.Enabled, form.rbStore.Value,
                           form.rbDelete.Value, form.chDescription.Value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A command-line argument ends at its first NUL.
    std::string assignment(reinterpret_cast<const char*>(data), size);
    assignment.resize(assignment.find('\0') == std::string::npos ? assignment.size() : assignment.find('\0'));

    EmptyStore store;
    vexa::frmOptions form(store);
    // Start from the other choice than the defaults, so that setting either one shows.
    form.SelectDelete();
    form.chDescription.Value = 1;
    const auto before = State(form);
    try {
        vexa::cli::ApplyOptionAssignment(form, assignment);
    } catch (const vexa::cli::UsageError&) {
        Check(State(form) == before, "a refused assignment changes nothing", assignment);
        return 0;
    }
    // Accepted: the key is everything before the first '=', the value everything after it.
    const std::size_t equals = assignment.find('=');
    Check(equals != std::string::npos, "an accepted assignment has a '='", assignment);
    const std::string key = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    using namespace vexa::settings;
    const std::map<std::string, const std::string*> texts = {{kInCriteria, &form.tInCriteria.Text},
                                                             {kConfirmCriteria, &form.tConfirmCriteria.Text},
                                                             {kOutCriteria, &form.tOutCriteria.Text},
                                                             {kStoreFolderName, &form.tFolder.Text}};
    if (const auto text = texts.find(key); text != texts.end()) {
        Check(*text->second == value, "a text option takes the value byte for byte", assignment);
    } else if (key == kStoreInMessages) {
        Check((value == "True" && form.rbStore.Value && !form.rbDelete.Value && form.tFolder.Enabled) ||
                  (value == "False" && !form.rbStore.Value && form.rbDelete.Value && !form.tFolder.Enabled),
              "StoreInMessages takes True or False and selects that choice", assignment);
    } else if (key == kAskDescription) {
        Check(form.chDescription.Value == (value == "1" ? 1 : 0) && (value == "0" || value == "1"),
              "AskDescription takes 0 or 1", assignment);
    } else {
        Check(false, "only the six options are accepted", assignment);
    }
    return 0;
}
