// The options dialog's model. The add-in keeps one instance, loaded from the settings store when
// it is first needed; its controls hold the live option values that recognition, storing and
// Inbox cleaning read. OK saves them, Cancel reloads them.
#pragma once

#include <cstdint>
#include <string>

#include "settings/settings_store.h"

namespace vexa {

class frmOptions {
public:
    struct TextBox {
        std::string Text;
        bool Enabled = true;
    };
    struct OptionButton {
        bool Value = false;
    };
    struct CheckBox {
        // 0 unchecked, 1 checked, 2 grayed.
        std::int32_t Value = 0;
    };
    struct Label {
        bool Enabled = true;
    };

    // Creating the dialog loads it: the six options are read from `store`. Fails, and no dialog
    // exists, when a stored value does not convert.
    explicit frmOptions(SettingsStore& store);

    TextBox tInCriteria;
    TextBox tConfirmCriteria;
    TextBox tOutCriteria;
    OptionButton rbDelete;
    OptionButton rbStore;
    Label lFolder;
    TextBox tFolder;
    CheckBox chDescription;

    // Fills every control from the store; fails at the first value that does not convert.
    void LoadOptions();
    // Writes every control to the store, in the same order; stops at the first failing write.
    void SaveOptions();

    // Selecting an option button also sets the folder field's state.
    void SelectStore();
    void SelectDelete();

private:
    SettingsStore& store_;
};

}  // namespace vexa
