#include "apps/vexa/settings_check.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iterator>

#include "adapters/posix/atomic_file.h"
#include "adapters/posix/ini_settings_store.h"
#include "apps/vexa/relay_settings.h"
#include "apps/vexa/transport.h"
#include "linux/imap_account.h"
#include "settings/setting_names.h"

namespace vexa::cli {
namespace {

struct KnownSection {
    std::string name;
    std::vector<std::string> keys;
};

bool SameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

const std::vector<KnownSection>& KnownSections() {
    using namespace vexa::settings;
    static const std::vector<KnownSection> known = [] {
        std::vector<KnownSection> sections = {
            {kOptions, {kInCriteria, kConfirmCriteria, kOutCriteria, kStoreInMessages, kStoreFolderName, kAskDescription}},
            {kPosition, {kTop, kLeft, kPositionKey, kRowIndex, kVisible}},
            {kAppPath, {kPath}},
            {kMailSection, {kTransportKey}},
            {linuxhost::kMailboxSection, {}},
        };
        for (const char* key : linuxhost::kMailboxKeys) sections.back().keys.emplace_back(key);
        // After [Mailbox], which a misplaced PasswordCommand= or CaFile= is sent back to as before.
        sections.push_back({kRelaySection, {std::begin(kRelayKeys), std::end(kRelayKeys)}});
        return sections;
    }();
    return known;
}

bool Holds(const KnownSection& section, std::string_view key) {
    return std::ranges::any_of(section.keys, [&](const std::string& known) { return SameName(known, key); });
}

}  // namespace

std::vector<std::string> SettingsWarnings(std::string_view contents, const std::string& fileName) {
    std::vector<std::string> warnings;
    for (const posix::ini::KeyLine& entry : posix::ini::Keys(contents)) {
        const auto& known = KnownSections();
        const auto section = std::ranges::find_if(known, [&](const KnownSection& s) { return SameName(s.name, entry.section); });
        if (section != known.end() && Holds(*section, entry.key)) continue;
        std::string where = entry.section.empty() ? "above every section" : "in [" + entry.section + "]";
        std::string warning = fileName + " line " + std::to_string(entry.line) + ": " + entry.key + "= " + where +
                              " is not read there";
        const auto home = std::ranges::find_if(known, [&](const KnownSection& s) { return Holds(s, entry.key); });
        warning += home != known.end() ? "; it belongs in [" + home->name + "]." : ".";
        warnings.push_back(std::move(warning));
    }
    return warnings;
}

void WarnAboutSettings() {
    const std::filesystem::path path = posix::DefaultSettingsPath();
    std::optional<std::string> contents;
    try {
        contents = posix::ReadFileIfPresent(path);
    } catch (...) {
        return;  // the command that reads it says what is wrong with it
    }
    if (!contents) return;
    for (const std::string& warning : SettingsWarnings(*contents, path.string())) {
        std::fprintf(stderr, "vexa: %s\n", warning.c_str());
    }
}

}  // namespace vexa::cli
