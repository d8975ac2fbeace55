#include "apps/vexa/transport.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "apps/vexa/cli.h"
#include "host/host_error.h"
#include "settings/setting_names.h"

extern char** environ;

namespace vexa::cli {
namespace {

// One argument for /bin/sh: single-quoted, with embedded quotes closed, escaped and reopened.
std::string ShellQuote(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::string ChooseTransport(const std::optional<std::string>& option, SettingsStore& settings) {
    if (option) return *option;
    if (const char* variable = std::getenv(kTransportVariable); variable && *variable) return variable;
    const std::string configured =
        Trimmed(settings.GetSetting(settings::kAppName, kMailSection, kTransportKey, ""));
    return configured.empty() ? kDefaultTransport : configured;
}

std::optional<std::string> WhyNotRunnable(const std::string& command) {
    const std::string line = Trimmed(command);
    const std::string word = line.substr(0, line.find_first_of(" \t\r\n"));
    if (word.empty()) return "the transport command is empty";
    // Quotes, variables, assignments and the like mean the shell decides what runs.
    if (word.find_first_of("'\"\\$`=(){};|&<>*?[~") != std::string::npos) return std::nullopt;
    static constexpr std::string_view kBuiltins[] = {"exec", "command", "eval", "."};
    for (auto builtin : kBuiltins) {
        if (word == builtin) return std::nullopt;
    }
    if (word.find('/') != std::string::npos) {
        if (IsExecutableFile(word)) return std::nullopt;
        return word + " is not an executable file";
    }
    const char* path = std::getenv("PATH");
    std::string_view dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const auto colon = dirs.find(':');
        const std::string dir(dirs.substr(0, colon));
        if (IsExecutableFile((dir.empty() ? std::string(".") : dir) + "/" + word)) return std::nullopt;
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    return word + " is not found on PATH";
}

std::string TransportCommand(const std::string& transport, const std::vector<std::string>& passOn) {
    std::string command = transport;
    for (const auto& arg : passOn) command += " " + ShellQuote(arg);
    return command;
}

Delivery Deliver(const std::string& command, const std::string& message) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw HostError(errno, "Can't start the transport.");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
    std::string sh = "/bin/sh", dashC = "-c", script = command;
    std::vector<char*> argv{sh.data(), dashC.data(), script.data(), nullptr};
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, "/bin/sh", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[0]);
    if (spawned != 0) {
        ::close(pipeFds[1]);
        throw HostError(spawned, "Can't start the transport.");
    }
    // A transport that stops reading early must not kill us with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    while (written < message.size()) {
        const ssize_t n = ::write(pipeFds[1], message.data() + written, message.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) throw HostError(errno, "The transport was lost.");
    }
    if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        if (code == 0) return {0, ""};
        if (code == 127) return {code, "the transport's program was not found (status 127)"};
        return {code, "the transport exited with status " + std::to_string(code)};
    }
    return {kExitTempFail, std::string("the transport was ended by signal ") + ::strsignal(WTERMSIG(status))};
}

}  // namespace vexa::cli
