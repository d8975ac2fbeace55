// One account, one name: every spelling of one mailbox shares the record of what was archived
// from it, and different mailboxes never do.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapters/imap/imap_url.h"
#include "linux/imap_account_key.h"

namespace vexa {
namespace {

std::string Key(const char* url) { return linuxhost::ImapAccountKey(imap::ParseImapUrl(url)); }

TEST(ImapAccountKeyTest, OneNamePerMailboxWhateverTheSpelling) {
    const std::vector<std::vector<const char*>> mailboxes = {
        {"imaps://ann@mail.example.org", "imaps://ann@mail.example.org:993", "imaps://ann@mail.example.org:993/",
         "imaps://ann@MAIL.Example.ORG/"},
        {"imaps://bob@mail.example.org"},
        {"imaps://ann@mail.example.org:1993"},
        {"imap://ann@mail.example.org"},
        {"imaps://ann@other.example.org"},
    };
    std::vector<std::string> names;
    for (const auto& spellings : mailboxes) {
        for (const char* spelling : spellings) EXPECT_EQ(Key(spelling), Key(spellings[0])) << spelling;
        names.push_back(Key(spellings[0]));
        EXPECT_EQ(names.back().size(), 16u);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (std::size_t j = i + 1; j < names.size(); ++j) EXPECT_NE(names[i], names[j]) << mailboxes[i][0] << " " << mailboxes[j][0];
    }
    // The name is kept on disk: it must not change between builds or machines.
    EXPECT_EQ(Key("imaps://ann@mail.example.org"), "06eac00b12cc6cf8");
}

}  // namespace
}  // namespace vexa
