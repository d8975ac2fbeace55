// Path rules of both platforms: the installation folder of a registered file, the extension of an
// attachment's name, and joining a folder and a name.

#include <gtest/gtest.h>

#include "adapters/paths/path_rules.h"

namespace vexa {
namespace {

TEST(PathRules, Windows) {
    paths::WindowsPathRules rules;
    const struct {
        const char* path;
        const char* parent;
        const char* extension;
    } cases[] = {
        {"C:\\Program Files\\Tool\\Corvane.dll", "C:\\Program Files\\Tool", "dll"},
        {"C:\\Program Files\\Tool\\", "C:\\Program Files", ""},
        {"C:/Tool/report.final.pdf", "C:/Tool", "pdf"},
        {"C:\\Corvane.dll", "C:\\", "dll"},
        {"C:Corvane.dll", "C:", "dll"},
        {"\\\\server\\share\\Corvane.dll", "\\\\server\\share", "dll"},
        {"Corvane.dll", "", "dll"},
        {"faxscan", "", ""},
        {"C:\\dir.v2\\faxscan", "C:\\dir.v2", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(rules.GetParentFolderName(c.path), c.parent);
        EXPECT_EQ(rules.GetExtensionName(c.path), c.extension);
    }
    EXPECT_EQ(rules.BuildPath("C:\\Tool", "Corvane.mdb"), "C:\\Tool\\Corvane.mdb");
    EXPECT_EQ(rules.BuildPath("C:\\", "Corvane.mdb"), "C:\\Corvane.mdb");
}

TEST(PathRules, Posix) {
    paths::PosixPathRules rules;
    const struct {
        const char* path;
        const char* parent;
        const char* extension;
    } cases[] = {
        {"/home/ann/.local/share/vexa/Corvane.dll", "/home/ann/.local/share/vexa", "dll"},
        {"/opt/vexa//Corvane.dll", "/opt/vexa", "dll"},
        {"/Corvane.dll", "/", "dll"},
        {"Corvane.dll", "", "dll"},
        {"/srv/a\\b.tif", "/srv", "tif"},
        {"/", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(rules.GetParentFolderName(c.path), c.parent);
        EXPECT_EQ(rules.GetExtensionName(c.path), c.extension);
    }
    EXPECT_EQ(rules.BuildPath("/opt/vexa", "Corvane.mdb"), "/opt/vexa/Corvane.mdb");
    EXPECT_EQ(rules.BuildPath("/", "Corvane.mdb"), "/Corvane.mdb");
}

}  // namespace
}  // namespace vexa
