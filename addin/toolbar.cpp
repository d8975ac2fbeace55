// The add-in's toolbar in the explorer window: built at every connection where the user left it,
// and its place saved when the explorer closes. Failures here are never shown: the add-in then
// simply works without a (complete) toolbar.

#include <functional>
#include <optional>

#include "addin/connect.h"
#include "addin/toolbar_faces.h"
#include "settings/conversions.h"
#include "settings/setting_names.h"

namespace vexa {
namespace {

constexpr std::int32_t kFaceConvert = 530;
constexpr std::int32_t kFaceHelp = 984;

struct ButtonLook {
    std::int32_t style;
    std::optional<std::int32_t> faceId;
    std::optional<std::string> caption;
    std::string tooltip;
    std::optional<std::string> tag;
};

// The saved position: one setting per bar property, read and written as integer text.
struct PositionProperty {
    const char* key;
    std::int32_t (CommandBar::*get)();
    void (CommandBar::*set)(std::int32_t);
};

constexpr PositionProperty kPositionProperties[] = {
    {settings::kTop, &CommandBar::Top, &CommandBar::SetTop},
    {settings::kLeft, &CommandBar::Left, &CommandBar::SetLeft},
    {settings::kPositionKey, &CommandBar::Position, &CommandBar::SetPosition},
    {settings::kRowIndex, &CommandBar::RowIndex, &CommandBar::SetRowIndex},
};

}  // namespace

void Connect::BuildToolbar() {
    SettingsStore& store = platform_.settings;
    oCBar = Deref(oCBars).Add(kAppTitle, kMsoBarTop, false, true);
    CommandBar& bar = Deref(oCBar);

    // A key that is absent gives the property its own current value.
    for (const PositionProperty& property : kPositionProperties) {
        const std::string current = IntegerToText((bar.*property.get)());
        const std::string saved = store.GetSetting(settings::kAppName, settings::kPosition, property.key, current);
        (bar.*property.set)(TextToInteger(saved));
    }
    bar.SetVisible(TextToBoolean(
        store.GetSetting(settings::kAppName, settings::kPosition, settings::kVisible, BooleanToText(true))));

    const std::string product = kAppTitle;
    const struct {
        WithEvents<CommandBarButton> Connect::*reference;
        ButtonLook look;
    } buttons[] = {
        {&Connect::oCBtnIndicator, {kMsoButtonIcon, kFaceIndicatorIdle, {}, "New message indicator", {}}},
        {&Connect::oCBtnConvert, {kMsoButtonIcon, kFaceConvert, {}, "Add message to database", {}}},
        {&Connect::oCBtnOptions, {kMsoButtonCaption, {}, "VX2 Options", product + " options...", "Vexa Button"}},
        {&Connect::oCBtnHelp, {kMsoButtonIcon, kFaceHelp, {}, product + " help", {}}},
    };
    for (const auto& [reference, look] : buttons) {
        const CommandBarControlPtr control =
            Deref(bar.Controls()).Add(kMsoControlButton, std::nullopt, std::nullopt, std::nullopt, true);
        WithEvents<CommandBarButton>& button = this->*reference;
        button = As<CommandBarButton>(control);
        button->SetStyle(look.style);
        if (look.faceId) button->SetFaceId(*look.faceId);
        if (look.caption) button->SetCaption(*look.caption);
        button->SetTooltipText(look.tooltip);
        if (look.tag) button->SetTag(*look.tag);
        button->SetEnabled(true);
    }
}

void Connect::SaveBarPosition() {
    SettingsStore& store = platform_.settings;
    // Each write stands alone: a property that cannot be read (no bar) skips only its own key.
    auto save = [&](const char* key, const std::function<std::string()>& value) {
        try {
            store.SaveSetting(settings::kAppName, settings::kPosition, key, value());
        } catch (...) {
        }
    };
    for (const PositionProperty& property : kPositionProperties) {
        save(property.key, [&] { return IntegerToText((Deref(oCBar).*property.get)()); });
    }
    save(settings::kVisible, [&] { return BooleanToText(Deref(oCBar).Visible()); });
}

}  // namespace vexa
