// The toolbar: its buttons, the place it is built at, and the place saved when the explorer closes.

#include <gtest/gtest.h>

#include "settings/setting_names.h"
#include "tests/support/harness.h"

namespace vexa::testing {
namespace {

using memory::HostOp;
using memory::MemoryCommandBar;

std::vector<std::string> PositionWrites(const Harness& h) {
    std::vector<std::string> writes;
    for (const auto& write : h.settings.Writes()) {
        if (write.starts_with("Position/")) writes.push_back(write);
    }
    return writes;
}

TEST(Toolbar, FirstRunShowsFourButtonsDockedAtTheTop) {
    Harness h;
    h.Start();
    const auto bar = h.Toolbar();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->Temporary());
    EXPECT_EQ(bar->Now().position, kMsoBarTop);
    EXPECT_TRUE(bar->Now().visible);

    const struct {
        std::int32_t style;
        std::int32_t faceId;
        const char* caption;
        const char* tooltip;
        const char* tag;
    } expected[] = {
        {kMsoButtonIcon, 351, "", "New message indicator", ""},
        {kMsoButtonIcon, 530, "", "Add message to database", ""},
        {kMsoButtonCaption, 0, "VX2 Options", "Vexa - Message Manager options...", "Vexa Button"},
        {kMsoButtonIcon, 984, "", "Vexa - Message Manager help", ""},
    };
    ASSERT_EQ(bar->Buttons().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        const auto& button = bar->Buttons()[i];
        EXPECT_EQ(button->Style(), expected[i].style);
        EXPECT_EQ(button->FaceId(), expected[i].faceId);
        EXPECT_EQ(button->Caption(), expected[i].caption);
        EXPECT_EQ(button->TooltipText(), expected[i].tooltip);
        EXPECT_EQ(button->Tag(), expected[i].tag);
        EXPECT_TRUE(button->Enabled());
        EXPECT_TRUE(button->Temporary());
    }
    // Nothing is written until the explorer closes.
    EXPECT_TRUE(PositionWrites(h).empty());
}

TEST(Toolbar, FloatedBarReopensWhereTheUserLeftIt) {
    Harness h;
    h.Start();
    h.Toolbar()->MoveTo(kMsoBarFloating, 312, 420, 3);
    h.CloseExplorer();
    EXPECT_EQ(PositionWrites(h), (std::vector<std::string>{"Position/Top=312", "Position/Left=420",
                                                            "Position/Position=4", "Position/RowIndex=3",
                                                            "Position/Visible=True"}));
    h.Restart();
    ASSERT_NE(h.Toolbar(), nullptr);
    EXPECT_EQ(h.Toolbar()->Now(), (MemoryCommandBar::Place{312, 420, kMsoBarFloating, 3, true}));
    EXPECT_EQ(h.Toolbar()->Buttons().size(), 4u);
}

TEST(Toolbar, HiddenBarIsBuiltHiddenWithItsButtons) {
    Harness h;
    h.Start();
    h.Toolbar()->SetVisible(false);
    h.CloseExplorer();
    EXPECT_EQ(h.settings.Value(settings::kPosition, settings::kVisible), "False");
    h.Restart();
    EXPECT_FALSE(h.Toolbar()->Now().visible);
    EXPECT_EQ(h.Toolbar()->Buttons().size(), 4u);
}

TEST(Toolbar, SavedTextsAreReadLeniently) {
    Harness h;
    h.settings.SaveSetting("", "Position", "Top", " 40 ");
    h.settings.SaveSetting("", "Position", "Left", "-7");
    h.settings.SaveSetting("", "Position", "Position", "+4");
    h.settings.SaveSetting("", "Position", "RowIndex", "2");
    h.settings.SaveSetting("", "Position", "Visible", "true");
    h.Start();
    EXPECT_EQ(h.Toolbar()->Now(), (MemoryCommandBar::Place{40, -7, kMsoBarFloating, 2, true}));
}

TEST(Toolbar, UnreadableTopStopsTheBuildAndTheNextCloseRepairsIt) {
    Harness h;
    h.settings.SaveSetting("", "Position", "Top", "twelve");
    h.settings.SaveSetting("", "Position", "Left", "99");
    h.Start();
    const auto bar = h.Toolbar();
    ASSERT_NE(bar, nullptr);
    EXPECT_NE(bar->Now().left, 99);  // the build stopped before Left
    EXPECT_FALSE(bar->Now().visible);
    EXPECT_TRUE(bar->Buttons().empty());
    EXPECT_TRUE(h.Messages().empty());

    const auto place = bar->Now();
    h.CloseExplorer();
    EXPECT_EQ(h.settings.Value(settings::kPosition, settings::kTop), std::to_string(place.top));
    EXPECT_EQ(h.settings.Value(settings::kPosition, settings::kLeft), std::to_string(place.left));
    // The bar was never shown, so it is saved hidden; the next build completes, hidden.
    EXPECT_EQ(h.settings.Value(settings::kPosition, settings::kVisible), "False");
    h.Restart();
    EXPECT_EQ(h.Toolbar()->Buttons().size(), 4u);
    EXPECT_EQ(h.Toolbar()->Now().left, place.left);
}

TEST(Toolbar, RefusedPropertyStopsTheBuildThere) {
    const struct {
        HostOp refused;
        std::size_t buttons;
        bool visible;
    } cases[] = {
        {HostOp::BarSetPosition, 0, false},
        {HostOp::BarSetVisible, 0, false},
        {HostOp::ButtonSetProperty, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.refused));
        Harness h;
        h.session->Faults().Fail(c.refused);
        EXPECT_TRUE(h.Start().Initialized());
        EXPECT_TRUE(h.Messages().empty());
        EXPECT_EQ(h.Toolbar()->Buttons().size(), c.buttons);
        EXPECT_EQ(h.Toolbar()->Now().visible, c.visible);
    }
}

TEST(Toolbar, NoBarMeansNothingSavedAtClose) {
    Harness h;
    h.session->Faults().Fail(HostOp::CommandBarsAdd);
    h.Start();
    h.CloseExplorer();
    EXPECT_TRUE(PositionWrites(h).empty());
}

TEST(Toolbar, EachPositionWriteStandsAlone) {
    Harness h;
    h.Start();
    h.settings.FailWrites(settings::kPosition, settings::kTop);
    h.settings.FailWrites(settings::kPosition, settings::kRowIndex);
    h.CloseExplorer();
    const auto writes = PositionWrites(h);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_TRUE(writes[0].starts_with("Position/Left="));
    EXPECT_TRUE(writes[1].starts_with("Position/Position="));
    EXPECT_EQ(writes[2], "Position/Visible=True");
}

TEST(Toolbar, UnreadableBarSkipsTheWritesButStillReleasesEverything) {
    Harness h;
    h.Start();
    h.session->Faults().Fail(HostOp::BarGetProperty);
    h.CloseExplorer();
    EXPECT_TRUE(PositionWrites(h).empty());
    EXPECT_EQ(h.session->ItemSendSubscribers(), 0u);
}

}  // namespace
}  // namespace vexa::testing
