#include "adapters/posix/ini_settings_store.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_error.h"
#include "tests/posix/temp_dir.h"

namespace vexa::posix {
namespace {

using test::CountEntries;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

constexpr const char* kApp = "Vexa";

TEST(IniSettingsStoreTest, AwkwardValuesRoundTrip) {
    const std::vector<std::string> values = {
        "",
        "plain",
        "a=b=c",
        "x ; not a comment",
        "# not a comment either",
        "say \"hi\"",
        "\"fully quoted\"",
        "\"",
        "C:\\Temp\\new",
        "ends with backslash\\",
        "\\n is not a newline",
        "  padded  ",
        "\ttabs\t",
        "line1\nline2\n",
        "cr\ronly and crlf\r\n",
        "[Looks Like A Section]",
        "Key=\"value\"",
        "Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x93 \xE2\x9C\x93 \xF0\x9F\x93\xA0",
    };
    TempDir dir;
    IniSettingsStore store(dir / "settings.ini");
    // All in one section, so a value that escaped its line would corrupt its neighbours.
    for (std::size_t i = 0; i < values.size(); ++i) {
        store.SaveSetting(kApp, "Main", "Key" + std::to_string(i), values[i]);
    }
    // One line per value and no stray CR, so editors and line-based tools see the same lines.
    std::string text = ReadBytes(dir / "settings.ini");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<std::ptrdiff_t>(values.size() + 1));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 0);
    IniSettingsStore reread(dir / "settings.ini");
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(reread.GetSetting(kApp, "Main", "Key" + std::to_string(i), "<default>"), values[i])
            << "value #" << i;
    }
}

TEST(IniSettingsStoreTest, MissingFileSectionOrKeyGivesDefault) {
    TempDir dir;
    IniSettingsStore missing(dir / "nowhere" / "settings.ini");
    EXPECT_EQ(missing.GetSetting(kApp, "Main", "Key", "dflt"), "dflt");
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere")) << "reading created the folder";

    WriteBytes(dir / "settings.ini", "[Main]\nKey=\"v\"\n; Gone=\"commented out\"\n[Other]\nOnly=1\n");
    IniSettingsStore store(dir / "settings.ini");
    struct Case {
        const char* section;
        const char* key;
    };
    for (const Case& c : {Case{"Absent", "Key"}, Case{"Main", "Absent"}, Case{"Main", "Gone"},
                          Case{"Main", "Only"}, Case{"Other", "Key"}}) {
        EXPECT_EQ(store.GetSetting(kApp, c.section, c.key, "dflt"), "dflt") << c.section << "/" << c.key;
    }
    EXPECT_EQ(store.GetSetting(kApp, "Main", "Key", "dflt"), "v");
}

TEST(IniSettingsStoreTest, StoredEmptyValueIsNotTheDefault) {
    TempDir dir;
    IniSettingsStore store(dir / "settings.ini");
    store.SaveSetting(kApp, "Main", "Key", "");
    EXPECT_EQ(store.GetSetting(kApp, "Main", "Key", "dflt"), "");
}

TEST(IniSettingsStoreTest, NamesMatchIgnoringAsciiCaseAndReplaceInPlace) {
    TempDir dir;
    IniSettingsStore store(dir / "settings.ini");
    store.SaveSetting(kApp, "Main", "FolderPath", "one");
    store.SaveSetting(kApp, "MAIN", "folderpath", "two");
    EXPECT_EQ(store.GetSetting(kApp, "main", "FOLDERPATH", ""), "two");
    // Non-ASCII letters are compared byte for byte.
    store.SaveSetting(kApp, "Main", "\xC3\x84nderung", "upper");
    EXPECT_EQ(store.GetSetting(kApp, "Main", "\xC3\xA4nderung", "dflt"), "dflt");
    EXPECT_EQ(ReadBytes(dir / "settings.ini"),
              "[Main]\nFolderPath=\"two\"\n\xC3\x84nderung=\"upper\"\n");
}

TEST(IniSettingsStoreTest, HandEditedLinesAreRead) {
    struct Case {
        std::string line;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"Key = spaced out  ", "spaced out"},
        {"  Key\t=\tx", "x"},
        {"Key=a=b", "a=b"},
        {"Key=", ""},
        {"Key=\"quoted\" ; trailing note", "quoted"},
        {"Key=\"unterminated", "\"unterminated"},
        {"Key=\"C:\\Data\\x\"", "C:\\Data\\x"},
        {"Key=unquoted ; kept", "unquoted ; kept"},
        {"Key=\"crlf file\"\r", "crlf file"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteBytes(dir / "settings.ini", "[Main]\n" + c.line + "\n");
        EXPECT_EQ(IniSettingsStore(dir / "settings.ini").GetSetting(kApp, "Main", "Key", "dflt"), c.expected)
            << c.line;
    }
    WriteBytes(dir / "settings.ini", "\xEF\xBB\xBF[Main]\nKey=bom\n");
    EXPECT_EQ(IniSettingsStore(dir / "settings.ini").GetSetting(kApp, "Main", "Key", "dflt"), "bom");
}

TEST(IniSettingsStoreTest, SavingKeepsTheRestOfTheFileAsItWas) {
    const std::string original =
        "; Vexa settings\n"
        "# edited by hand\n"
        "[Main]\n"
        "  Folder = /srv/fax   \n"
        "Count=7\n"
        "\n"
        "; the next section is for the viewer\n"
        "[Viewer]\n"
        "Zoom=\"150\"\n";
    struct Case {
        const char* section;
        const char* key;
        const char* value;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"main", "folder", "/tmp/x",
         "; Vexa settings\n# edited by hand\n[Main]\n  Folder =\"/tmp/x\"\nCount=7\n\n"
         "; the next section is for the viewer\n[Viewer]\nZoom=\"150\"\n"},
        {"Main", "Added", "new",
         "; Vexa settings\n# edited by hand\n[Main]\n  Folder = /srv/fax   \nCount=7\nAdded=\"new\"\n\n"
         "; the next section is for the viewer\n[Viewer]\nZoom=\"150\"\n"},
        {"Viewer", "Added", "new", original + "Added=\"new\"\n"},
        // A new section goes first, so that the file's last section stays last: a line appended
        // by hand lands where it was meant to. The comments above the first section stay with it.
        {"Printing", "Copies", "2", "[Printing]\nCopies=\"2\"\n\n" + original},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteBytes(dir / "settings.ini", original);
        IniSettingsStore(dir / "settings.ini").SaveSetting(kApp, c.section, c.key, c.value);
        EXPECT_EQ(ReadBytes(dir / "settings.ini"), c.expected) << c.section << "/" << c.key;
    }
}

TEST(IniSettingsStoreTest, WindowsLineEndsAreKept) {
    TempDir dir;
    WriteBytes(dir / "settings.ini", "[Main]\r\nA=1\r\n");
    IniSettingsStore store(dir / "settings.ini");
    store.SaveSetting(kApp, "Main", "A", "2");
    store.SaveSetting(kApp, "Main", "B", "3");
    store.SaveSetting(kApp, "Other", "C", "4");
    EXPECT_EQ(ReadBytes(dir / "settings.ini"), "[Other]\r\nC=\"4\"\r\n\r\n[Main]\r\nA=\"2\"\r\nB=\"3\"\r\n");
    // A byte order mark stays the file's first bytes; a header comment apart from the first
    // section stays on top.
    WriteBytes(dir / "settings.ini", "\xEF\xBB\xBF; mine\n\n[Main]\nA=1\n");
    store.SaveSetting(kApp, "Other", "C", "4");
    EXPECT_EQ(ReadBytes(dir / "settings.ini"), "\xEF\xBB\xBF; mine\n\n[Other]\nC=\"4\"\n\n[Main]\nA=1\n");
    WriteBytes(dir / "settings.ini", "\xEF\xBB\xBF[Main]\nA=1\n");
    store.SaveSetting(kApp, "Other", "C", "4");
    EXPECT_EQ(ReadBytes(dir / "settings.ini"), "\xEF\xBB\xBF[Other]\nC=\"4\"\n\n[Main]\nA=1\n");
    EXPECT_EQ(store.GetSetting(kApp, "Main", "A", ""), "1");
}

TEST(IniSettingsStoreTest, CreatesMissingFolders) {
    TempDir dir;
    IniSettingsStore store(dir / "config" / "vexa" / "settings.ini");
    store.SaveSetting(kApp, "Main", "Key", "v");
    EXPECT_EQ(ReadBytes(dir / "config" / "vexa" / "settings.ini"), "[Main]\nKey=\"v\"\n");
}

TEST(IniSettingsStoreTest, FailedSaveThrowsAndLeavesFilesAlone) {
    TempDir dir;
    // A regular file where the folder should be stops the save even for root.
    WriteBytes(dir / "blocker", "old content");
    auto path = dir / "blocker" / "settings.ini";
    IniSettingsStore store(path);
    try {
        store.SaveSetting(kApp, "Main", "Key", "v");
        FAIL() << "saving below a regular file succeeded";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Number(), ENOTDIR);
        EXPECT_EQ(e.Description(), "Can't write " + path.string() + ": Not a directory");
    }
    EXPECT_EQ(ReadBytes(dir / "blocker"), "old content");
    EXPECT_EQ(CountEntries(dir.Path()), 1u);
}

TEST(IniSettingsStoreTest, UnreadableFileThrowsInsteadOfBeingReplaced) {
    TempDir dir;
    std::filesystem::create_directory(dir / "settings.ini");
    IniSettingsStore store(dir / "settings.ini");
    EXPECT_THROW(store.GetSetting(kApp, "Main", "Key", "dflt"), HostError);
    EXPECT_THROW(store.SaveSetting(kApp, "Main", "Key", "v"), HostError);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "settings.ini"));
}

TEST(IniSettingsStoreTest, NamesTheFileCannotHoldAreRejected) {
    struct Case {
        const char* section;
        const char* key;
    };
    TempDir dir;
    WriteBytes(dir / "settings.ini", "[Main]\nKey=\"v\"\n");
    IniSettingsStore store(dir / "settings.ini");
    for (const Case& c : {Case{"Main", ""}, Case{"Main", "  "}, Case{"Main", "a=b"}, Case{"Main", ";x"},
                          Case{"Main", "#x"}, Case{"Main", "[x]"}, Case{"Main", "a\nb"}, Case{"", "Key"},
                          Case{"Ma\nin", "Key"}}) {
        EXPECT_THROW(store.SaveSetting(kApp, c.section, c.key, "v2"), HostError) << c.section << "/" << c.key;
        EXPECT_EQ(store.GetSetting(kApp, c.section, c.key, "dflt"), "dflt");
    }
    EXPECT_EQ(ReadBytes(dir / "settings.ini"), "[Main]\nKey=\"v\"\n");
}

}  // namespace
}  // namespace vexa::posix
