// The settings' text forms and the live options loaded from and saved to the store.

#include <gtest/gtest.h>

#include "adapters/memory/memory_platform.h"
#include "dialogs/frm_options.h"
#include "host/host_error.h"
#include "settings/conversions.h"
#include "settings/setting_names.h"

namespace vexa {
namespace {

// A conversion's outcome: the value, or the error number it failed with.
template <class Convert>
std::string Outcome(Convert convert, const std::string& text) {
    try {
        return "=" + std::to_string(convert(text));
    } catch (const HostError& e) {
        return "error " + std::to_string(e.Number());
    }
}

TEST(Conversions, TextToInteger) {
    const struct {
        const char* text;
        const char* outcome;
    } cases[] = {
        {"0", "=0"},           {"42", "=42"},         {"-17", "=-17"},       {"+5", "=5"},
        {" 12\t", "=12"},      {"2147483647", "=2147483647"},                {"-2147483648", "=-2147483648"},
        {"2147483648", "error 6"},                    {"99999999999999999999", "error 6"},
        {"", "error 13"},      {"  ", "error 13"},    {"-", "error 13"},     {"1.5", "error 13"},
        {"1e3", "error 13"},   {"0x10", "error 13"},  {"1,000", "error 13"}, {"12abc", "error 13"},
        {"twelve", "error 13"},
    };
    for (const auto& c : cases) EXPECT_EQ(Outcome(TextToInteger, c.text), c.outcome) << '"' << c.text << '"';
}

TEST(Conversions, TextToBoolean) {
    const struct {
        const char* text;
        const char* outcome;
    } cases[] = {
        {"True", "=1"}, {"False", "=0"}, {"true", "=1"}, {"FALSE", "=0"}, {" True ", "=1"},
        {"1", "=1"},    {"0", "=0"},     {"-1", "=1"},   {"yes", "error 13"}, {"", "error 13"},
        {"Truth", "error 13"},
    };
    for (const auto& c : cases) EXPECT_EQ(Outcome(TextToBoolean, c.text), c.outcome) << '"' << c.text << '"';
}

TEST(Conversions, WrittenFormsReadBack) {
    for (std::int32_t value : {0, 1, -1, 351, -2147483647 - 1, 2147483647}) {
        EXPECT_EQ(TextToInteger(IntegerToText(value)), value);
    }
    for (bool value : {true, false}) EXPECT_EQ(TextToBoolean(BooleanToText(value)), value);
    EXPECT_EQ(BooleanToText(true), "True");
    EXPECT_EQ(IntegerToText(-42), "-42");
}

TEST(LiveOptions, FreshProfileShowsTheDefaults) {
    memory::MemorySettingsStore store;
    frmOptions options(store);
    EXPECT_EQ(options.tInCriteria.Text, "message@inbound.efax.com");
    EXPECT_EQ(options.tConfirmCriteria.Text, "send@mail.efax.com");
    EXPECT_EQ(options.tOutCriteria.Text, "efaxsend.com");
    EXPECT_TRUE(options.rbStore.Value);
    EXPECT_FALSE(options.rbDelete.Value);
    EXPECT_TRUE(options.tFolder.Enabled);
    EXPECT_EQ(options.tFolder.Text, "VX2 Messages");
    EXPECT_EQ(options.chDescription.Value, 1);
    EXPECT_TRUE(store.Writes().empty());
}

TEST(LiveOptions, SavedStateLoadsBackTheSame) {
    const struct {
        bool store;
        std::int32_t ask;
        const char* storedChoice;
        const char* storedAsk;
        std::int32_t loadedAsk;
    } cases[] = {{true, 1, "True", "1", 1},
                 {false, 0, "False", "0", 0},
                 {true, 0, "True", "0", 0},
                 {false, 1, "False", "1", 1},
                 // A greyed check box asks for nothing, and is saved as unchecked.
                 {true, 2, "True", "0", 0}};
    for (const auto& c : cases) {
        memory::MemorySettingsStore store;
        frmOptions edited(store);
        edited.tInCriteria.Text = "fax@example.org; other";
        edited.tConfirmCriteria.Text = "";
        edited.tOutCriteria.Text = "  gateway.example  ";
        if (c.store) edited.SelectStore(); else edited.SelectDelete();
        edited.tFolder.Text = "";
        edited.chDescription.Value = c.ask;
        edited.SaveOptions();
        EXPECT_EQ(store.Value(settings::kOptions, settings::kStoreInMessages), c.storedChoice);
        EXPECT_EQ(store.Value(settings::kOptions, settings::kAskDescription), c.storedAsk);

        frmOptions loaded(store);
        EXPECT_EQ(loaded.tInCriteria.Text, "fax@example.org; other");
        EXPECT_EQ(loaded.tConfirmCriteria.Text, "");
        EXPECT_EQ(loaded.tOutCriteria.Text, "  gateway.example  ");
        EXPECT_EQ(loaded.rbStore.Value, c.store);
        EXPECT_EQ(loaded.rbDelete.Value, !c.store);
        EXPECT_EQ(loaded.tFolder.Enabled, c.store);
        EXPECT_EQ(loaded.lFolder.Enabled, c.store);
        // An empty folder name is a stored value, not a missing one.
        EXPECT_EQ(loaded.tFolder.Text, "");
        EXPECT_EQ(loaded.chDescription.Value, c.loadedAsk);
    }
}

TEST(LiveOptions, StoredTextsLoadOrFailTheLoad) {
    const struct {
        const char* key;
        const char* text;
        std::int32_t error;  // 0: loads, the check box showing `ask`
        std::int32_t ask;
    } cases[] = {
        {settings::kStoreInMessages, "maybe", 13, 0},
        {settings::kAskDescription, "yes", 13, 0},
        {settings::kAskDescription, "3", 380, 0},
        {settings::kAskDescription, "-1", 380, 0},
        // A greyed check box, written by hand, is kept as stored.
        {settings::kAskDescription, "2", 0, 2},
    };
    for (const auto& c : cases) {
        memory::MemorySettingsStore store;
        store.SaveSetting(settings::kAppName, settings::kOptions, c.key, c.text);
        try {
            frmOptions options(store);
            EXPECT_EQ(c.error, 0) << c.key << "=" << c.text << " loaded";
            EXPECT_EQ(options.chDescription.Value, c.ask) << c.key << "=" << c.text;
        } catch (const HostError& e) {
            EXPECT_EQ(e.Number(), c.error) << c.key << "=" << c.text;
        }
    }
}

}  // namespace
}  // namespace vexa
