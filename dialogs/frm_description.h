// The description prompt: a small modal dialog that asks for a free-text description of a fax
// before it is archived. Every prompt is a new instance, so nothing of one survives into the next.
#pragma once

#include <cstddef>
#include <string>

#include "dialogs/dialog_form.h"

namespace vexa {

inline constexpr const char* kNoDescription = "(no description)";
inline constexpr std::size_t kDescriptionLength = 100;

class frmDescription final : public DialogForm {
public:
    // True when the user left the dialog with Cancel (or Esc).
    bool bCancelOn = false;

    // The text box's contents; empty once the close box has destroyed the controls.
    const std::string& Description() const noexcept { return tDescription_; }

    const FormLayout& Layout() const override;
    std::string Text(const std::string& control) const override;
    // Takes at most 100 characters (not bytes); line breaks count as typed.
    void SetText(const std::string& control, const std::string& text) override;
    std::int32_t Value(const std::string& control) const override;
    bool Enabled(const std::string& control) const override;
    void Click(const std::string& control) override;
    // Destroys the controls without touching bCancelOn: the typed text is lost.
    void CloseBox() override;

private:
    std::string tDescription_;
};

}  // namespace vexa
