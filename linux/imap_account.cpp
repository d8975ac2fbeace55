#include "linux/imap_account.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "adapters/imap/imap_url.h"
#include "adapters/posix/ini_settings_store.h"
#include "host/host_error.h"
#include "linux/first_line.h"
#include "linux/imap_account_key.h"
#include "linux/trimmed.h"
#include "settings/setting_names.h"

extern char** environ;

namespace vexa::linuxhost {
namespace {

constexpr const char* kPasswordVariable = "VEXA_IMAP_PASSWORD";
// A password command that has not answered by then (waiting for a passphrase nobody types) fails.
constexpr auto kCommandTimeout = std::chrono::seconds(60);

}  // namespace

std::string FirstLineOfCommand(const std::string& command, const char* what) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw HostError(errno, std::string("Can't run the ") + what + ".");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        throw HostError(spawned, std::string("Can't run the ") + what + ".");
    }
    const std::optional<FirstLine> first = ReadFirstLine(fds[0], kCommandTimeout);
    ::close(fds[0]);
    if (!first) ::kill(child, SIGTERM);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!first) throw HostError(ETIMEDOUT, std::string("The ") + what + " did not answer.");
    const std::string& line = first->text;
    if (line.empty()) {
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        throw HostError(EINVAL, std::string("The ") + what + " printed nothing (exit status " + std::to_string(code) + ").");
    }
    return line;
}

std::optional<ImapAccount> ImapAccountFromSettings() {
    posix::IniSettingsStore settings(posix::DefaultSettingsPath());
    const auto setting = [&](const char* key) {
        std::string value = Trimmed(settings.GetSetting(settings::kAppName, kMailboxSection, key, ""));
        return value.empty() ? std::nullopt : std::optional<std::string>(std::move(value));
    };
    const auto url = setting("Url");
    if (!url) return std::nullopt;
    ImapAccount account;
    account.url = *url;
    account.passwordCommand = setting("PasswordCommand");
    account.oauth2TokenCommand = setting("OAuth2TokenCommand");
    account.caFile = setting("CaFile");
    return account;
}

std::string ReadSecret(const ImapAccount& account) {
    if (account.oauth2TokenCommand) return FirstLineOfCommand(*account.oauth2TokenCommand, "OAuth2 token command");
    if (account.passwordCommand) return FirstLineOfCommand(*account.passwordCommand, "password command");
    if (const char* password = std::getenv(kPasswordVariable); password && *password) return password;
    throw HostError(EINVAL, std::string("No password for ") + account.url + ": set $" + kPasswordVariable +
                                ", give --password-command, or set PasswordCommand= in [" + kMailboxSection + "] of " +
                                posix::DefaultSettingsPath().string() + ".");
}

namespace {

// The name earlier versions gave an account: a hash of the address as written.
std::string LegacyAccountKey(const ImapAccount& account) {
    std::ostringstream key;
    key << std::hex << std::hash<std::string>{}(account.url);
    return key.str();
}

}  // namespace

std::string AccountKey(const ImapAccount& account) {
    try {
        return linuxhost::ImapAccountKey(imap::ParseImapUrl(account.url));
    } catch (...) {
        // An address that does not parse opens no server either; its name matters little.
        return LegacyAccountKey(account);
    }
}

bool SameAccount(const std::string& a, const std::string& b) {
    if (a == b) return true;
    try {
        return linuxhost::ImapAccountKey(imap::ParseImapUrl(a)) == linuxhost::ImapAccountKey(imap::ParseImapUrl(b));
    } catch (...) {
        return false;
    }
}

std::filesystem::path KeptUnderAccountKey(const std::filesystem::path& folder, const ImapAccount& account,
                                          const std::string& suffix) {
    std::filesystem::path path = folder / (AccountKey(account) + suffix);
    const std::filesystem::path legacy = folder / (LegacyAccountKey(account) + suffix);
    std::error_code ec;
    // What an earlier version kept under the old name is taken over once, so that its highest UID
    // handled and its mirror's journal still count.
    if (legacy != path && !std::filesystem::exists(path, ec) && std::filesystem::exists(legacy, ec)) {
        std::filesystem::rename(legacy, path, ec);
    }
    return path;
}

std::filesystem::path MirrorFolder(const ImapAccount& account) {
    std::filesystem::path cache;
    if (const char* home = std::getenv("XDG_CACHE_HOME"); home && home[0] == '/') {
        cache = home;
    } else if (const char* user = std::getenv("HOME"); user && user[0] == '/') {
        cache = std::filesystem::path(user) / ".cache";
    } else {
        throw HostError(ENOENT, "No home folder for the IMAP mirror: set HOME or XDG_CACHE_HOME.");
    }
    return KeptUnderAccountKey(cache / "vexa" / "imap", account, "");
}

}  // namespace vexa::linuxhost
