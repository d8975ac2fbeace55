// Addresses and classification: which mail is the service's traffic, and of which kind.

#include <gtest/gtest.h>

#include "settings/setting_names.h"
#include "tests/support/harness.h"

namespace vexa::testing {
namespace {

using memory::MailSpec;
using memory::RecipientSpec;

constexpr const char* kIn = "message@inbound.efax.com";
constexpr const char* kConfirm = "send@mail.efax.com";

TEST(Addresses, SenderAndFirstRecipientComeFromTheWrapper) {
    Harness h;
    Connect addin(h.MakePlatform());
    const struct {
        const char* name;
        MailSpec mail;
        const char* sender;
        const char* recipient;
    } cases[] = {
        {"both", {.senderAddress = kIn, .recipients = {{"12125551234@efaxsend.com", "Fax"}, {"b@x.org", "B"}}}, kIn,
         "12125551234@efaxsend.com"},
        {"no sender, no recipients", {}, "", ""},
        {"empty sender address", {.senderAddress = ""}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto mail = h.session->NewMail(c.mail);
        EXPECT_EQ(addin.GetSafeSenderAddress(mail), c.sender);
        EXPECT_EQ(addin.GetSafeRecipientAddress(mail), c.recipient);
    }
    // A new wrapper answers every call.
    EXPECT_EQ(h.safeMailItems.Created(), 6);
}

TEST(Addresses, FailuresGiveAnEmptyAddressSilently) {
    Harness h;
    Connect addin(h.MakePlatform());
    const auto mail = h.session->NewMail({.senderAddress = kIn, .recipients = {{"1@efaxsend.com", "Fax"}}});
    h.safeMailItems.SetRegistered(false);
    EXPECT_EQ(addin.GetSafeSenderAddress(mail), "");
    EXPECT_EQ(addin.GetSafeRecipientAddress(mail), "");
    EXPECT_EQ(addin.GetSafeSenderAddress(nullptr), "");
    h.safeMailItems.SetRegistered(true);
    h.session->Faults().Fail(memory::HostOp::MailReply);
    EXPECT_EQ(addin.GetReplyToAddress(mail), "");
    EXPECT_TRUE(h.Messages().empty());
}

TEST(Addresses, ReplyAddressFallsBackToTheEntryThenTheName) {
    Harness h;
    Connect addin(h.MakePlatform());
    const struct {
        const char* name;
        std::vector<RecipientSpec> reply;
        const char* expected;
    } cases[] = {
        {"address", {{"ann@example.org", "Ann", "entry@example.org"}}, "ann@example.org"},
        {"entry address", {{"", "Ann", "entry@example.org"}}, "entry@example.org"},
        {"display name", {{"", "Ann", ""}}, "Ann"},
        {"display name without an entry", {{"", "Ann", std::nullopt}}, "Ann"},
        {"first of several", {{"a@x.org", "A"}, {"b@x.org", "B"}}, "a@x.org"},
        {"no recipients", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(addin.GetReplyToAddress(h.session->NewMail({.replyRecipients = c.reply})), c.expected);
    }
}

struct KindCase {
    const char* name;
    const char* sender;     // nullptr: no sender
    const char* recipient;  // nullptr: no recipients
    MessageKind arrival;    // sender tests only
    MessageKind sending;    // recipient test only
    MessageKind convert;    // all tests
};

TEST(Classification, KindsByTheDefaultCriteria) {
    const KindCase cases[] = {
        {"incoming", kIn, "me@home.org", MessageKind::mkIncoming, MessageKind::mkNone, MessageKind::mkIncoming},
        {"incoming in capitals", "MESSAGE@INBOUND.EFAX.COM", nullptr, MessageKind::mkIncoming, MessageKind::mkNone,
         MessageKind::mkIncoming},
        {"incoming with a display part", "eFax <message@inbound.efax.com>", nullptr, MessageKind::mkIncoming,
         MessageKind::mkNone, MessageKind::mkIncoming},
        {"confirmation", kConfirm, nullptr, MessageKind::mkConfirmation, MessageKind::mkNone,
         MessageKind::mkConfirmation},
        {"outgoing", "me@home.org", "12125551234@efaxsend.com", MessageKind::mkNone, MessageKind::mkOutgoing,
         MessageKind::mkOutgoing},
        {"sender wins over recipient", kConfirm, "1@efaxsend.com", MessageKind::mkConfirmation,
         MessageKind::mkOutgoing, MessageKind::mkConfirmation},
        {"unrelated", "ann@example.org", "bob@example.org", MessageKind::mkNone, MessageKind::mkNone,
         MessageKind::mkNone},
        {"no addresses", nullptr, nullptr, MessageKind::mkNone, MessageKind::mkNone, MessageKind::mkNone},
        {"criterion longer than the address", "efax.com", nullptr, MessageKind::mkNone, MessageKind::mkNone,
         MessageKind::mkNone},
    };
    Harness h;
    Connect addin(h.MakePlatform());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MailSpec fields;
        if (c.sender) fields.senderAddress = c.sender;
        if (c.recipient) fields.recipients = {{c.recipient, "R"}};
        const auto mail = h.session->NewMail(fields);
        EXPECT_EQ(addin.TestJ2Message(mail, true, false), c.arrival);
        EXPECT_EQ(addin.TestJ2Message(mail, false, true), c.sending);
        EXPECT_EQ(addin.TestJ2Message(mail, true, true), c.convert);
    }
    EXPECT_TRUE(h.Messages().empty());
}

TEST(Classification, GatewayAsSecondRecipientIsNotOutgoing) {
    Harness h;
    Connect addin(h.MakePlatform());
    const auto mail = h.session->NewMail({.recipients = {{"ann@example.org", "Ann"}, {"1@efaxsend.com", "Fax"}}});
    EXPECT_EQ(addin.TestJ2Message(mail, false, true), MessageKind::mkNone);
}

TEST(Classification, EmptyCriteriaMatchNothing) {
    // Each criterion emptied in turn: that kind is never given, the other two still are.
    const struct {
        const char* key;
        MessageKind arrivalOfIn, arrivalOfConfirm, sendingToGateway;
    } cases[] = {
        {"InCriteria", MessageKind::mkNone, MessageKind::mkConfirmation, MessageKind::mkOutgoing},
        {"ConfirmCriteria", MessageKind::mkIncoming, MessageKind::mkNone, MessageKind::mkOutgoing},
        {"OutCriteria", MessageKind::mkIncoming, MessageKind::mkConfirmation, MessageKind::mkNone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        Harness h;
        h.settings.SaveSetting("", "Options", c.key, "");
        Connect addin(h.MakePlatform());
        const auto anyone = h.session->NewMail({.senderAddress = "ann@example.org", .recipients = {{"b@x.org", "B"}}});
        EXPECT_EQ(addin.TestJ2Message(anyone, true, true), MessageKind::mkNone);
        EXPECT_EQ(addin.TestJ2Message(h.session->NewMail({.senderAddress = kIn}), true, false), c.arrivalOfIn);
        EXPECT_EQ(addin.TestJ2Message(h.session->NewMail({.senderAddress = kConfirm}), true, false),
                  c.arrivalOfConfirm);
        EXPECT_EQ(addin.TestJ2Message(h.session->NewMail({.recipients = {{"1@efaxsend.com", "Fax"}}}), false, true),
                  c.sendingToGateway);
        EXPECT_TRUE(h.Messages().empty());
    }
}

TEST(Classification, ReadsTheLiveCriteriaNotTheStore) {
    Harness h;
    Connect addin(h.MakePlatform());
    const auto mail = h.session->NewMail({.senderAddress = "fax@example.org"});
    EXPECT_EQ(addin.TestJ2Message(mail, true, false), MessageKind::mkNone);
    addin.Options().tInCriteria.Text = "@EXAMPLE.org";
    EXPECT_EQ(addin.TestJ2Message(mail, true, false), MessageKind::mkIncoming);
    // A change made to the store by someone else is not seen until the next load.
    h.settings.SaveSetting("", "Options", "InCriteria", "nothing-matches");
    EXPECT_EQ(addin.TestJ2Message(mail, true, false), MessageKind::mkIncoming);
}

TEST(Classification, DamagedOptionsAreReportedAndGiveNone) {
    Harness h;
    h.settings.SaveSetting("", "Options", "StoreInMessages", "perhaps");
    Connect addin(h.MakePlatform());
    const auto mail = h.session->NewMail({.senderAddress = kIn});
    EXPECT_EQ(addin.TestJ2Message(mail, true, true), MessageKind::mkNone);
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Error in \"TestJ2Message\": Type mismatch"});
}

TEST(Classification, ConfirmationOutcomeFromTheSubject) {
    const struct {
        const char* subject;
        ConfirmOutcome outcome;
    } cases[] = {
        {"Successful transmission to 12125551234. Re: Quote {0000042}", ConfirmOutcome::coSuccessful},
        {"SUCCESSFUL TRANSMISSION TO 1212", ConfirmOutcome::coSuccessful},
        {"Successful transmission to", ConfirmOutcome::coNone},  // the trailing blank is part of the phrase
        {"Unsuccessful Fax Transmission to 12125551234", ConfirmOutcome::coUnsuccessful},
        {"Unsuccessful Fax Transmission; Successful transmission to 1", ConfirmOutcome::coSuccessful},
        {"Your fax", ConfirmOutcome::coNone},
        {"", ConfirmOutcome::coNone},
    };
    Harness h;
    Connect addin(h.MakePlatform());
    for (const auto& c : cases) {
        EXPECT_EQ(addin.TestConfirmMessage(h.session->NewMail({.subject = c.subject})), c.outcome) << c.subject;
    }
    h.session->Faults().Fail(memory::HostOp::MailSubject);
    EXPECT_EQ(addin.TestConfirmMessage(h.session->NewMail({})), ConfirmOutcome::coNone);
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Error in \"TestConfirmMessage\": The operation failed."});
}

TEST(Classification, ContainsTest) {
    EXPECT_TRUE(Contains("Message@Inbound.eFax.com", "message@inbound.efax.com"));
    EXPECT_FALSE(Contains("x", ""));
    EXPECT_FALSE(Contains("", ""));
    EXPECT_FALSE(Contains("efax", "efax.com"));
    // Only ASCII letters fold: other bytes must match exactly.
    EXPECT_FALSE(Contains("\xC3\x89", "\xC3\xA9"));
}

}  // namespace
}  // namespace vexa::testing
