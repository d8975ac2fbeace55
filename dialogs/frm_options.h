// The options dialog. The add-in keeps one instance, loaded from the settings store when it is
// first needed and hidden between uses; its controls hold the live option values that recognition,
// storing and Inbox cleaning read. OK saves them, Cancel reloads them, the close box unloads the
// dialog so the next use loads it again.
#pragma once

#include <cstdint>
#include <string>

#include "dialogs/dialog_form.h"
#include "settings/settings_store.h"

namespace vexa {

class frmOptions final : public DialogForm {
public:
    enum class Colour { WindowBackground, ButtonFace };
    struct TextBox {
        std::string Text;
        bool Enabled = true;
        Colour BackColor = Colour::WindowBackground;
    };
    struct OptionButton {
        bool Value = false;
    };
    struct CheckBox {
        std::int32_t Value = 0;  // 0 unchecked, 1 checked, 2 greyed
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

    // True once the close box has unloaded the controls: the values are gone.
    bool Unloaded() const noexcept { return unloaded_; }

    const FormLayout& Layout() const override;
    std::string Text(const std::string& control) const override;
    void SetText(const std::string& control, const std::string& text) override;
    std::int32_t Value(const std::string& control) const override;
    bool Enabled(const std::string& control) const override;
    void Click(const std::string& control) override;
    void CloseBox() override;

private:
    TextBox* FindTextBox(const std::string& control);
    const TextBox* FindTextBox(const std::string& control) const;

    SettingsStore& store_;
    bool unloaded_ = false;
};

}  // namespace vexa
