// The dialogs of the command line, drawn on the controlling terminal (/dev/tty) so they work while
// standard input carries a message (vexa send). The description prompt can also be answered in
// advance with --description; without a terminal and without an answer it cannot be shown.
#pragma once

#include <optional>
#include <string>

#include "dialogs/dialog_form.h"

namespace vexa::cli {

class TerminalDialogs final : public DialogToolkit {
public:
    explicit TerminalDialogs(std::optional<std::string> description = std::nullopt)
        : description_(std::move(description)) {}

    void ShowModal(DialogForm& form) override;
    std::optional<std::string> DescriptionGivenInAdvance() override { return description_; }

private:
    void ShowDescription(DialogForm& form);
    void ShowOptions(DialogForm& form);

    std::optional<std::string> description_;
};

}  // namespace vexa::cli
