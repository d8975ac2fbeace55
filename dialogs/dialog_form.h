// Modal dialogs as data and behaviour, independent of any window system. A form describes its
// window and controls (captions, places, tooltips, tab order, access keys, default and cancel
// buttons) and reacts to what the user does; a dialog toolkit (the terminal, Win32, a script in
// tests) draws the layout, passes the user's actions on, and returns when the form is hidden.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vexa {

enum class ControlKind { Frame, Label, TextBox, OptionButton, CheckBox, CommandButton };

// Places and sizes in twips, relative to the client area or to the control's frame.
struct Twips {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct ControlInfo {
    ControlInfo(std::string name_, ControlKind kind_, std::string container_, std::string caption_, Twips place_,
                std::string tooltip_ = {}, int tabIndex_ = -1, std::string accessKeyTarget_ = {})
        : name(std::move(name_)), kind(kind_), container(std::move(container_)), caption(std::move(caption_)),
          place(place_), tooltip(std::move(tooltip_)), tabIndex(tabIndex_),
          accessKeyTarget(std::move(accessKeyTarget_)) {}

    std::string name;
    ControlKind kind;
    std::string container;  // the frame it sits in; empty for the form itself
    std::string caption;    // "&" marks the access key
    Twips place;
    std::string tooltip;
    int tabIndex = -1;            // position in the tab order; -1 for controls that take no focus
    std::string accessKeyTarget;  // a label's access key moves the focus there
    int maxLength = 0;            // characters a text box takes; 0 for no limit
    bool multiLine = false;
};

struct FormLayout {
    std::string caption;
    int clientWidth = 0;
    int clientHeight = 0;
    std::vector<ControlInfo> controls;
    std::string defaultButton;  // Enter presses it
    std::string cancelButton;   // Esc presses it; empty when Esc does nothing
    std::string initialFocus;
    std::string icon;  // the window's own icon, named as the toolkit's resources name it; empty for none
};

class DialogForm {
public:
    virtual ~DialogForm() = default;

    virtual const FormLayout& Layout() const = 0;

    // What the user sees and does. Controls are named as in the layout; an unknown name fails.
    virtual std::string Text(const std::string& control) const = 0;
    // Typing over a text box's contents; a text box with a limit takes no more characters.
    virtual void SetText(const std::string& control, const std::string& text) = 0;
    // An option button's or check box's value (0 or 1; a check box may be 2, greyed).
    virtual std::int32_t Value(const std::string& control) const = 0;
    virtual bool Enabled(const std::string& control) const = 0;
    // Selects an option button, toggles a check box, presses a button.
    virtual void Click(const std::string& control) = 0;
    // The window's close box.
    virtual void CloseBox() = 0;

    void PressEnter() {
        if (!Layout().defaultButton.empty()) Click(Layout().defaultButton);
    }
    void PressEscape() {
        if (!Layout().cancelButton.empty()) Click(Layout().cancelButton);
    }

    void Show() { visible_ = true; }
    bool Visible() const noexcept { return visible_; }

    // Expires when the form is destroyed, so a toolkit can tell a form that its owner let go of
    // while it was on screen from one that is still there.
    std::weak_ptr<const void> Lifetime() const { return lifetime_; }

protected:
    void Hide() { visible_ = false; }

private:
    bool visible_ = false;
    std::shared_ptr<const void> lifetime_ = std::make_shared<char>();
};

// Shows a form modally: returns when the form is hidden or closed by its close box.
class DialogToolkit {
public:
    virtual ~DialogToolkit() = default;
    virtual void ShowModal(DialogForm& form) = 0;
    // The answer to the description prompt when the user gave it before any prompt (a command
    // line's option, a field of the message): stored whether or not the prompt is shown.
    virtual std::optional<std::string> DescriptionGivenInAdvance() { return std::nullopt; }
};

const ControlInfo* FindControl(const FormLayout& layout, const std::string& name);

}  // namespace vexa
