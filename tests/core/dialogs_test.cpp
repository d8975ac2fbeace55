// The options dialog and the description prompt, driven as a user would drive them.

#include <gtest/gtest.h>

#include "dialogs/frm_description.h"
#include "settings/setting_names.h"
#include "tests/support/harness.h"

namespace vexa::testing {
namespace {

std::vector<std::string> OptionWrites(const Harness& h) {
    std::vector<std::string> writes;
    for (const auto& write : h.settings.Writes()) {
        if (write.starts_with("Options/")) writes.push_back(write);
    }
    return writes;
}

// Shows the add-in's options dialog with `script` playing the user, as the Options command does.
void ShowOptions(Harness& h, Connect& addin, memory::ScriptedDialogs::Script script) {
    h.dialogs.Then(std::move(script));
    h.dialogs.ShowModal(addin.Options());
}

void EditEveryField(DialogForm& form) {
    form.SetText("tInCriteria", "in@example.org");
    form.SetText("tConfirmCriteria", "confirm@example.org");
    form.SetText("tOutCriteria", "gateway.example.org");
    form.SetText("tFolder", "Faxes");
    form.Click("rbDelete");
    form.Click("chDescription");
}

TEST(OptionsDialog, LayoutIsTheDialogsData) {
    Harness h;
    Connect addin(h.MakePlatform());
    const FormLayout& layout = addin.Options().Layout();
    EXPECT_EQ(layout.caption, "Vexa - Message Manager options");
    EXPECT_EQ(layout.clientWidth, 8055);
    EXPECT_EQ(layout.defaultButton, "OKButton");
    EXPECT_EQ(layout.cancelButton, "");  // Esc does not close it
    std::vector<std::pair<int, std::string>> tabOrder;
    for (const auto& control : layout.controls) {
        if (control.tabIndex >= 0) tabOrder.emplace_back(control.tabIndex, control.name);
    }
    std::sort(tabOrder.begin(), tabOrder.end());
    std::vector<std::string> names;
    for (const auto& entry : tabOrder) names.push_back(entry.second);
    EXPECT_EQ(names, (std::vector<std::string>{"tInCriteria", "tConfirmCriteria", "tOutCriteria", "rbDelete", "rbStore",
                                               "tFolder", "chDescription", "OKButton", "CancelButton"}));
    EXPECT_EQ(FindControl(layout, "lFolder")->accessKeyTarget, "tFolder");
    EXPECT_EQ(FindControl(layout, "tInCriteria")->tooltip, "\"From\" Email address of incoming fax/voice messages");
    EXPECT_EQ(FindControl(layout, "chDescription")->caption, "&Always ask for message description");
}

TEST(OptionsDialog, CaptionsTooltipsAndPromptOfBothDialogs) {
    Harness h;
    Connect addin(h.MakePlatform());
    const FormLayout& options = addin.Options().Layout();
    const FormLayout& prompt = frmDescription().Layout();
    EXPECT_EQ(options.caption, "Vexa - Message Manager options");
    EXPECT_EQ(prompt.caption, "Vexa - Message Manager");
    const struct {
        const FormLayout& layout;
        const char* control;
        const char* caption;
        const char* tooltip;
    } cases[] = {
        {options, "frAddresses", "Set message processing criteria", ""},
        {options, "lInCriteria", "&Incoming message sender:", ""},
        {options, "tInCriteria", "", "\"From\" Email address of incoming fax/voice messages"},
        {options, "lConfirmCriteria", "&Confirm message sender:", ""},
        {options, "tConfirmCriteria", "", "\"From\" Email address of fax/voice confirmation messages"},
        {options, "LOutCriteria", "&Outgoing message recipient:", ""},
        {options, "tOutCriteria", "", "\"To\" Email address for message processing"},
        {options, "frHandling", "Additional handling of FAX/Voice messages", ""},
        {options, "rbDelete", "Do not store copy in Outlook", "Store message in seperate Outlook folder = NO"},
        {options, "rbStore", "Store copy in Custom Outlook folder", "Store message in seperate Outlook folder = YES"},
        {options, "lFolder", "&Outlook folder name to store copies in:", ""},
        {options, "tFolder", "", "Type the name of a folder here"},
        {options, "chDescription", "&Always ask for message description", "Always pop up description box"},
        {options, "OKButton", "OK", ""},
        {options, "CancelButton", "Cancel", ""},
        {prompt, "lPrompt", "Type description for this FAX message (Hit ENTER when done):", ""},
        {prompt, "tDescription", "", "Type your fax message description here. Do NOT hit enter until done"},
        {prompt, "bOk", "OK", ""},
        {prompt, "bCancel", "Cancel", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        const ControlInfo* control = FindControl(c.layout, c.control);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->caption, c.caption);
        EXPECT_EQ(control->tooltip, c.tooltip);
    }
    EXPECT_TRUE(FindControl(options, "Label1")->caption.starts_with("Vexa - Message Manager "));
}

TEST(OptionsDialog, CancelDiscardsEveryEditAndSavesNothing) {
    Harness h;
    Connect addin(h.MakePlatform());
    ShowOptions(h, addin, [](DialogForm& form) {
        EditEveryField(form);
        form.Click("CancelButton");
    });
    EXPECT_TRUE(OptionWrites(h).empty());
    EXPECT_EQ(addin.Options().tInCriteria.Text, settings::kDefaultInCriteria);
    EXPECT_EQ(addin.Options().tFolder.Text, "VX2 Messages");
    EXPECT_TRUE(addin.Options().rbStore.Value);
    EXPECT_EQ(addin.Options().chDescription.Value, 1);
    EXPECT_FALSE(addin.Options().Visible());
}

TEST(OptionsDialog, EnterSavesAllSixAndTheValuesStayLive) {
    Harness h;
    Connect addin(h.MakePlatform());
    ShowOptions(h, addin, [](DialogForm& form) {
        form.SetText("tFolder", "");
        form.Click("rbDelete");
        form.SetText("tInCriteria", "in@example.org");
        form.PressEnter();
    });
    EXPECT_EQ(OptionWrites(h), (std::vector<std::string>{
                                   "Options/InCriteria=in@example.org", "Options/ConfirmCriteria=send@mail.efax.com",
                                   "Options/OutCriteria=efaxsend.com", "Options/StoreInMessages=False",
                                   "Options/StoreFolderName=", "Options/AskDescription=1"}));
    // Reopening shows the confirmed values: the delete choice with the folder field disabled.
    ShowOptions(h, addin, [](DialogForm& form) {
        EXPECT_EQ(form.Value("rbDelete"), 1);
        EXPECT_FALSE(form.Enabled("tFolder"));
        EXPECT_FALSE(form.Enabled("lFolder"));
        EXPECT_EQ(form.Text("tFolder"), "");
        form.Click("CancelButton");
    });
    EXPECT_EQ(h.dialogs.Shown().size(), 2u);
}

TEST(OptionsDialog, EscapeDoesNotCloseIt) {
    Harness h;
    Connect addin(h.MakePlatform());
    ShowOptions(h, addin, [](DialogForm& form) {
        form.PressEscape();
        EXPECT_TRUE(form.Visible());
        form.Click("CancelButton");
    });
}

TEST(OptionsDialog, FolderFieldFollowsTheChoiceAndKeepsItsText) {
    Harness h;
    Connect addin(h.MakePlatform());
    ShowOptions(h, addin, [](DialogForm& form) {
        form.SetText("tFolder", "Faxes");
        form.Click("rbDelete");
        EXPECT_FALSE(form.Enabled("tFolder"));
        form.SetText("tFolder", "typed while disabled");
        form.Click("rbStore");
        EXPECT_TRUE(form.Enabled("tFolder"));
        EXPECT_EQ(form.Text("tFolder"), "Faxes");
        form.Click("OKButton");
    });
    EXPECT_EQ(h.settings.Value(settings::kOptions, settings::kStoreFolderName), "Faxes");
    EXPECT_EQ(addin.Options().tFolder.BackColor, frmOptions::Colour::WindowBackground);
    addin.Options().SelectDelete();
    EXPECT_EQ(addin.Options().tFolder.BackColor, frmOptions::Colour::ButtonFace);
}

TEST(OptionsDialog, CloseBoxLosesTheEditsAndTheNextUseReloads) {
    Harness h;
    Connect addin(h.MakePlatform());
    ShowOptions(h, addin, [](DialogForm& form) {
        EditEveryField(form);
        form.CloseBox();
    });
    EXPECT_TRUE(OptionWrites(h).empty());
    // The next reader sees the stored values again.
    EXPECT_EQ(addin.Options().tInCriteria.Text, settings::kDefaultInCriteria);
    EXPECT_TRUE(addin.Options().rbStore.Value);
}

TEST(OptionsDialog, CreatedOnFirstReadWithoutBeingShown) {
    Harness h;
    Connect addin(h.MakePlatform());
    const auto mail = h.session->NewMail({.senderAddress = "message@inbound.efax.com"});
    EXPECT_EQ(addin.TestJ2Message(mail, true, false), MessageKind::mkIncoming);
    EXPECT_TRUE(h.dialogs.Shown().empty());
    frmOptions* first = &addin.Options();
    EXPECT_EQ(&addin.Options(), first);  // one instance, kept
}

std::string Prompt(Harness& h, Connect& addin, memory::ScriptedDialogs::Script script) {
    h.dialogs.Then(std::move(script));
    return addin.OpenDescription();
}

TEST(DescriptionPrompt, ThreeResults) {
    Harness h;
    Connect addin(h.MakePlatform());
    const struct {
        const char* name;
        memory::ScriptedDialogs::Script script;
        std::string expected;
    } cases[] = {
        {"typed and Enter",
         [](DialogForm& f) {
             f.SetText("tDescription", "Quote for ACME");
             f.PressEnter();
         },
         "Quote for ACME"},
        {"empty and Enter", [](DialogForm& f) { f.PressEnter(); }, "(no description)"},
        {"typed and Esc",
         [](DialogForm& f) {
             f.SetText("tDescription", "Quote");
             f.PressEscape();
         },
         ""},
        {"typed and Cancel",
         [](DialogForm& f) {
             f.SetText("tDescription", "Quote");
             f.Click("bCancel");
         },
         ""},
        {"typed and close box",
         [](DialogForm& f) {
             f.SetText("tDescription", "Quote");
             f.CloseBox();
         },
         "(no description)"},
        {"two lines",
         [](DialogForm& f) {
             f.SetText("tDescription", "first\r\nsecond");
             f.Click("bOk");
         },
         "first\r\nsecond"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Prompt(h, addin, c.script), c.expected);
    }
    EXPECT_TRUE(h.Messages().empty());
}

TEST(DescriptionPrompt, EveryPromptStartsEmpty) {
    Harness h;
    Connect addin(h.MakePlatform());
    EXPECT_EQ(Prompt(h, addin,
                     [](DialogForm& f) {
                         f.SetText("tDescription", "first");
                         f.PressEnter();
                     }),
              "first");
    EXPECT_EQ(Prompt(h, addin,
                     [](DialogForm& f) {
                         EXPECT_EQ(f.Text("tDescription"), "");
                         f.PressEnter();
                     }),
              "(no description)");
}

TEST(DescriptionPrompt, TakesAHundredCharactersNotBytes) {
    Harness h;
    Connect addin(h.MakePlatform());
    std::string text;
    for (int i = 0; i < 101; ++i) text += "\xC3\xA9";  // é, two bytes each
    const std::string result = Prompt(h, addin, [&](DialogForm& f) {
        f.SetText("tDescription", text);
        f.PressEnter();
    });
    EXPECT_EQ(result, text.substr(0, 200));
    EXPECT_EQ(FindControl(frmDescription().Layout(), "tDescription")->maxLength, 100);
}

TEST(DescriptionPrompt, PromptThatCannotBeShownGivesNoDescription) {
    Harness h;
    Connect addin(h.MakePlatform());
    h.dialogs.FailNext(HostError(401, "Can't show non-modal form when modal form is displayed"));
    EXPECT_EQ(addin.OpenDescription(), "(no description)");
    EXPECT_TRUE(h.Messages().empty());
}

}  // namespace
}  // namespace vexa::testing
