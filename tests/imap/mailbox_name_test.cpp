// Folder names to and from modified UTF-7: what the server is sent, and what a hostile server's
// names become (always valid UTF-8, never a crash).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "adapters/imap/imap_error.h"
#include "adapters/imap/mailbox_name.h"

namespace vexa::imap {
namespace {

TEST(MailboxName, RoundTrips) {
    const struct {
        const char* utf8;
        const char* wire;
    } rows[] = {
        {"INBOX.VX2 Messages", "INBOX.VX2 Messages"},
        {"Faxe Büro", "Faxe B&APw-ro"},
        {"Tom & Jerry&", "Tom &- Jerry&-"},
        {"~peter/mail/台北/日本語", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},  // RFC 3501's own example
        {"Ärger über Öl", "&AMQ-rger &APw-ber &ANY-l"},
        {"Fax 😀", "Fax &2D3eAA-"},  // outside the BMP: a surrogate pair
        {"", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.wire, EncodeMailboxName(row.utf8)) << row.utf8;
        EXPECT_EQ(row.utf8, DecodeMailboxName(row.wire)) << row.wire;
    }
}

TEST(MailboxName, ANameThatIsNotUtf8IsRefused) {
    for (const char* name : {"B\xfcro", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"})
        EXPECT_THROW(EncodeMailboxName(name), ImapError) << name;
}

TEST(MailboxName, WhatAServerMaySendDecodesToReadableUtf8) {
    const struct {
        const char* wire;
        const char* shown;
    } rows[] = {
        {"&Jjo", "&Jjo"},            // no end
        {"&Jjo!-", "&Jjo!-"},        // a letter outside the alphabet
        {"&A-", "&A-"},              // too short for one character
        {"&APx-", "&APx-"},          // bits left over
        {"&2D0-", "\uFFFD"},         // a lone high surrogate
        {"&3gA-x", "\uFFFDx"},       // a lone low surrogate
        {"&AAAACQ-", "\uFFFD\uFFFD"},  // NUL and TAB
        {"a\tb\x7f", "a\uFFFDb\uFFFD"},
        {"B\xfcro \xc3", "B\uFFFDro \uFFFD"},
        {"B\xc3\xbcro", "Büro"},  // UTF-8 already
    };
    for (const auto& row : rows) EXPECT_EQ(row.shown, DecodeMailboxName(row.wire)) << row.wire;

    // Random names from the letters that matter: the decoded name is always UTF-8 again, as
    // the encoder's check says.
    std::mt19937 random(20240611);
    const std::string letters = "&-+,A/Z09az\x80\xbf\xc3\xd8\xdc\xed\xf0\xff\t ";
    for (int i = 0; i < 20000; ++i) {
        std::string wire(random() % 12, ' ');
        for (char& c : wire) c = letters[random() % letters.size()];
        EXPECT_NO_THROW(EncodeMailboxName(DecodeMailboxName(wire))) << wire;
    }
}

}  // namespace
}  // namespace vexa::imap
