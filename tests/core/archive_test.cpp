// Names in the archive (row numbers, stored files, column widths) and the statement runner.

#include <gtest/gtest.h>

#include "archive/archive_names.h"
#include "tests/support/harness.h"

namespace vexa::testing {
namespace {

TEST(ArchiveNames, FormattedIds) {
    const struct {
        std::int64_t id;
        const char* text;
    } cases[] = {{1, "0000001"},
                 {42, "0000042"},
                 {9999999, "9999999"},
                 {10000000, "10000000"},
                 {12345678, "12345678"},
                 {INT64_MAX, "9223372036854775807"},
                 {-42, "-0000042"},
                 // The most negative id has no positive counterpart (found by fuzz/archive_names).
                 {INT64_MIN, "-9223372036854775808"}};
    for (const auto& c : cases) EXPECT_EQ(FormatId(c.id), c.text);
}

TEST(ArchiveNames, OwnersOfStoredFileNames) {
    const struct {
        const char* name;
        const char* table;  // null: not a name we make
        std::int64_t id;
    } cases[] = {{"R0000042.tif", "recv", 42},   {"S0000007.doc", "send", 7},      {"R12345678.pdf", "recv", 12345678},
                 {"R0000042", nullptr, 0},       {"R0000042.", "recv", 42},        {"R000042.tif", nullptr, 0},
                 {"R00000042.tif", nullptr, 0},  {"R0000042.t f", nullptr, 0},     {"R0000042.abcdefghijklm", nullptr, 0},
                 {"X0000042.tif", nullptr, 0},   {"R0000042x.tif", nullptr, 0},    {"notes.txt", nullptr, 0},
                 {"", nullptr, 0},               {"R99999999999999999999.tif", nullptr, 0},
                 // The highest row's name, as StoredFileName cuts it (found by fuzz/archive_names).
                 {"R9223372036854775807", "recv", INT64_MAX},
                 {"S9223372036854775808", nullptr, 0}};
    for (const auto& c : cases) {
        const auto owner = OwnerOfStoredFile(c.name);
        ASSERT_EQ(owner.has_value(), c.table != nullptr) << c.name;
        if (!owner) continue;
        EXPECT_STREQ(owner->table, c.table) << c.name;
        EXPECT_EQ(owner->id, c.id) << c.name;
    }
}

TEST(ArchiveNames, StoredFileNames) {
    const struct {
        char prefix;
        std::int64_t id;
        const char* attachment;
        const char* stored;
    } cases[] = {
        {'R', 42, "fax.tif", "R0000042.tif"},
        {'S', 7, "quote.doc", "S0000007.doc"},
        {'R', 5, "report.final.pdf", "R0000005.pdf"},
        {'R', 5, "faxscan", "R0000005."},
        {'R', 5, "scan.abcdefghijklmn", "R0000005.abcdefghijk"},
        {'R', 12345678, "fax.tif", "R12345678.tif"},
        {'S', 10000000, "quote.doc", "S10000000.doc"},
        // Names from a mail cannot lead the file out of the folder or give it an unusable name.
        {'R', 5, "x./../../evil", "R0000005."},
        {'R', 5, "a.b\\..\\c", "R0000005."},
        {'R', 5, "fax.t<i>f", "R0000005.tif"},
        {'R', 5, ".", "R0000005."},
        {'R', 5, "..", "R0000005."},
        {'R', 5, ".....", "R0000005."},
        {'R', 5, "fax.t\x01i\nf\x7f", "R0000005.tif"},
        {'R', 5, "scan.tar-gz_2", "R0000005.tar-gz_2"},
        {'R', 5, "fax.t\xC3\xAF" "f", "R0000005.tf"},
        {'R', 5, "C:\\scans\\fax.tif", "R0000005.tif"},
    };
    for (const auto& c : cases) EXPECT_EQ(StoredFileName(c.prefix, c.id, c.attachment), c.stored) << c.attachment;
}

TEST(ArchiveNames, CutsCountCharactersAndNeverSplitOne) {
    const std::string ascii(150, 'a');
    EXPECT_EQ(LeftCharacters(ascii, 100), std::string(100, 'a'));
    std::string greek;
    for (int i = 0; i < 150; ++i) greek += "\xCE\xB1";  // α
    EXPECT_EQ(LeftCharacters(greek, 100), greek.substr(0, 200));
    std::string mixed;
    for (int i = 0; i < 50; ++i) mixed += "a\xE2\x82\xAC\xF0\x9F\x93\xA0";  // a € 📠: 1, 3 and 4 bytes
    EXPECT_EQ(LeftCharacters(mixed, 100), mixed.substr(0, 33 * 8 + 1));
    EXPECT_EQ(LeftCharacters("short", 100), "short");
    // A stray byte is one character of its own.
    EXPECT_EQ(LeftCharacters("\xFF\xC3\xA9x", 2), "\xFF\xC3\xA9");
    EXPECT_EQ(LeftCharacters("\xC3", 1), "\xC3");
}

TEST(RunBulkOpQuery, ReturnsTheAffectedRowsOrReportsAndReturnsZero) {
    Harness h;
    Connect& addin = h.Start();
    h.archive.SetExecuteResult(1);
    EXPECT_EQ(addin.RunBulkOpQuery("UPDATE send SET Confirm = ? WHERE Id = ?", {std::string("Successful"), 42}), 1);
    ASSERT_EQ(h.archive.Executed().size(), 1u);
    EXPECT_EQ(h.archive.Executed()[0].parameters.size(), 2u);

    h.archive.SetExecuteResult(0);
    EXPECT_EQ(addin.RunBulkOpQuery("UPDATE send SET Confirm = 'x' WHERE Id = 99"), 0);
    EXPECT_TRUE(h.Messages().empty());

    h.archive.Faults().Fail(memory::HostOp::ArchiveExecute, 1, HostError(-2147217900, "Syntax error in UPDATE statement."));
    EXPECT_EQ(addin.RunBulkOpQuery("UPDATE send SET"), 0);
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Error in \"RunBulkOpQuery\": Syntax error in UPDATE statement."});

    // Without an open archive the statement fails the same way.
    h.messages.Clear();
    h.Disconnect();
    EXPECT_EQ(addin.RunBulkOpQuery("UPDATE send SET Confirm = 'x'"), 0);
    EXPECT_EQ(h.Messages().size(), 1u);
}

}  // namespace
}  // namespace vexa::testing
