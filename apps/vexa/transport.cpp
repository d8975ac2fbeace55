#include "apps/vexa/transport.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "apps/vexa/cli.h"
#include "host/host_error.h"
#include "linux/trimmed.h"
#include "settings/setting_names.h"

extern char** environ;

namespace vexa::cli {

using linuxhost::Trimmed;
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

class UniqueFd {
public:
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Close(); }
    int Get() const noexcept { return fd_; }
    void Close() noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

class SpawnActions {
public:
    SpawnActions() {
        if (const int error = posix_spawn_file_actions_init(&actions_); error != 0) {
            throw HostError(error, "Can't start the transport.");
        }
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t* Get() const noexcept { return &actions_; }

private:
    mutable posix_spawn_file_actions_t actions_;
};

// How long a write waits for room in the pipe before it looks whether the transport has ended.
constexpr int kReapInterval = 100;  // milliseconds

// Whether `child` has ended, its status then in `status`; `flags` WNOHANG asks without waiting.
bool Reaped(pid_t child, int& status, int flags) {
    while (true) {
        const pid_t done = ::waitpid(child, &status, flags);
        if (done == child) return true;
        if (done == 0) return false;
        if (errno != EINTR) throw HostError(errno, "The transport was lost.");
    }
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
    // Our copy of the reading end stays open until the transport is gone: what is still in the
    // pipe then is what it never read. It also spares us SIGPIPE when the transport stops early.
    const UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    std::string sh = "/bin/sh", dashC = "-c", script = command;
    std::vector<char*> argv{sh.data(), dashC.data(), script.data(), nullptr};
    pid_t child = 0;
    {
        const SpawnActions actions;
        posix_spawn_file_actions_adddup2(actions.Get(), readEnd.Get(), STDIN_FILENO);
        const int spawned = ::posix_spawn(&child, "/bin/sh", actions.Get(), nullptr, argv.data(), environ);
        if (spawned != 0) throw HostError(spawned, "Can't start the transport.");
    }
    // Not blocking, so that a transport that ends without reading cannot leave us waiting on a
    // full pipe for ever: between tries we look whether it is still there.
    ::fcntl(writeEnd.Get(), F_SETFL, ::fcntl(writeEnd.Get(), F_GETFL) | O_NONBLOCK);
    std::size_t written = 0;
    int status = 0;
    bool ended = false;
    while (written < message.size() && !ended) {
        const ssize_t n = ::write(writeEnd.Get(), message.data() + written, message.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd room{writeEnd.Get(), POLLOUT, 0};
            ::poll(&room, 1, kReapInterval);
            ended = Reaped(child, status, WNOHANG);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    writeEnd.Close();
    if (!ended) Reaped(child, status, 0);
    int unread = 0;
    if (::ioctl(readEnd.Get(), FIONREAD, &unread) != 0) unread = 0;
    const std::size_t taken = written - std::min(written, static_cast<std::size_t>(unread));

    if (WIFSIGNALED(status)) {
        return {kExitTempFail, std::string("the transport was ended by signal ") + ::strsignal(WTERMSIG(status))};
    }
    const int code = WEXITSTATUS(status);
    if (code == 127) return {code, "the transport's program was not found (status 127)"};
    if (code != 0) return {code, "the transport exited with status " + std::to_string(code)};
    // A zero status says nothing about the part of the message the transport never read.
    if (taken < message.size()) {
        return {kExitTempFail, "the transport ended after taking only " + std::to_string(taken) + " of the message's " +
                                   std::to_string(message.size()) + " bytes"};
    }
    return {0, ""};
}

}  // namespace vexa::cli
