#include "adapters/posix/xdg.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapters/posix/ini_settings_store.h"
#include "adapters/posix/legacy_registry_file.h"
#include "adapters/posix/record_registry.h"

namespace vexa::posix {
namespace {

// Sets or unsets one environment variable for the length of a test and then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
        }
        Apply(value);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() { Apply(saved_); }

private:
    void Apply(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

    std::string name_;
    std::optional<std::string> saved_;
};

struct XdgCase {
    std::optional<std::string> value;
    std::string expectedBase;
};

TEST(XdgTest, ConfigHomeAndTheFilesBelowIt) {
    ScopedEnv home("HOME", "/home/tester");
    // The XDG rules say a relative value is invalid and must be ignored.
    const std::vector<XdgCase> cases = {
        {std::nullopt, "/home/tester/.config"},
        {"", "/home/tester/.config"},
        {"relative/config", "/home/tester/.config"},
        {"/srv/cfg", "/srv/cfg"},
    };
    for (const XdgCase& c : cases) {
        ScopedEnv config("XDG_CONFIG_HOME", c.value);
        SCOPED_TRACE(c.value.value_or("(unset)"));
        EXPECT_EQ(XdgConfigHome(), std::filesystem::path(c.expectedBase));
        EXPECT_EQ(DefaultSettingsPath(), std::filesystem::path(c.expectedBase + "/vexa/settings.ini"));
        EXPECT_EQ(DefaultRecordPath(), std::filesystem::path(c.expectedBase + "/vexa/registry.ini"));
        EXPECT_EQ(LegacyRegistryPath(), std::filesystem::path(c.expectedBase + "/vexa/registry.reg"));
    }
}

TEST(XdgTest, DataHome) {
    ScopedEnv home("HOME", "/home/tester");
    const std::vector<XdgCase> cases = {
        {std::nullopt, "/home/tester/.local/share"},
        {"", "/home/tester/.local/share"},
        {"data", "/home/tester/.local/share"},
        {"/srv/data", "/srv/data"},
    };
    for (const XdgCase& c : cases) {
        ScopedEnv data("XDG_DATA_HOME", c.value);
        SCOPED_TRACE(c.value.value_or("(unset)"));
        EXPECT_EQ(XdgDataHome(), std::filesystem::path(c.expectedBase));
    }
}

}  // namespace
}  // namespace vexa::posix
