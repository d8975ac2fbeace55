// The explorer's command bars: the add-in's toolbar, its buttons and their Click event.
// Every property reads back what was last set; any call may fail with HostError when the host
// refuses it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/events.h"
#include "host/object.h"

namespace vexa {

// Bar positions, as the host numbers them.
inline constexpr std::int32_t kMsoBarLeft = 0;
inline constexpr std::int32_t kMsoBarTop = 1;
inline constexpr std::int32_t kMsoBarRight = 2;
inline constexpr std::int32_t kMsoBarBottom = 3;
inline constexpr std::int32_t kMsoBarFloating = 4;

inline constexpr std::int32_t kMsoControlButton = 1;

inline constexpr std::int32_t kMsoButtonIcon = 1;
inline constexpr std::int32_t kMsoButtonCaption = 2;

class CommandBarButtonEvents {
public:
    virtual ~CommandBarButtonEvents() = default;
    virtual void Click(const CommandBarButtonPtr& ctrl, bool& cancelDefault) = 0;
};

class CommandBarControl : public Object {};

class CommandBarButton : public CommandBarControl {
public:
    using Events = CommandBarButtonEvents;
    virtual Subscription Advise(CommandBarButtonEvents& sink) = 0;

    virtual std::int32_t Style() = 0;
    virtual void SetStyle(std::int32_t style) = 0;
    virtual std::int32_t FaceId() = 0;
    virtual void SetFaceId(std::int32_t faceId) = 0;
    virtual std::string Caption() = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string TooltipText() = 0;
    virtual void SetTooltipText(const std::string& text) = 0;
    virtual std::string Tag() = 0;
    virtual void SetTag(const std::string& tag) = 0;
    virtual bool Enabled() = 0;
    virtual void SetEnabled(bool enabled) = 0;
};

class CommandBarControls : public Object {
public:
    virtual std::int32_t Count() = 0;
    // Appends a control of `type`; id, parameter and before left empty take the host's defaults.
    virtual CommandBarControlPtr Add(std::int32_t type, std::optional<std::int32_t> id,
                                     std::optional<std::string> parameter,
                                     std::optional<std::int32_t> before, bool temporary) = 0;
};

class CommandBar : public Object {
public:
    virtual std::string Name() = 0;
    virtual std::int32_t Top() = 0;
    virtual void SetTop(std::int32_t top) = 0;
    virtual std::int32_t Left() = 0;
    virtual void SetLeft(std::int32_t left) = 0;
    virtual std::int32_t Position() = 0;
    virtual void SetPosition(std::int32_t position) = 0;
    virtual std::int32_t RowIndex() = 0;
    virtual void SetRowIndex(std::int32_t rowIndex) = 0;
    virtual bool Visible() = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual CommandBarControlsPtr Controls() = 0;
};

class CommandBars : public Object {
public:
    // A temporary bar is discarded by the host when its window closes.
    virtual CommandBarPtr Add(const std::string& name, std::int32_t position, bool menuBar,
                              bool temporary) = 0;
};

}  // namespace vexa
