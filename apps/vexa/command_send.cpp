// vexa send: sendmail for mail readers. Reads one message, raises the send event for it (which
// archives a fax and tags its subject), then hands the message, changed only in its Subject:
// header, to the real transport. A fax that was not recorded is not handed on: exit 75 tells the
// mail reader to keep the message.

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <csignal>
#include <optional>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "adapters/maildir/maildir_mail.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/runtime.h"
#include "host/host_error.h"

extern char** environ;

namespace vexa::cli {
namespace {

constexpr const char* kDefaultTransport = "/usr/sbin/sendmail -oi";

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

// The transport's command line: the command as given, then the options and recipients we were
// given, each quoted for the shell.
std::string TransportCommand(const std::string& transport, const std::vector<std::string>& passOn) {
    std::string command = transport;
    for (const auto& arg : passOn) command += " " + ShellQuote(arg);
    return command;
}

// Runs the transport with `message` on its standard input and returns its exit status.
int Deliver(const std::string& command, const std::string& message) {
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
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return kExitTempFail;
}

}  // namespace

int RunSend(const Args& args) {
    // Our own options may stand anywhere before "--"; everything else belongs to the transport.
    std::string transport = kDefaultTransport;
    Runtime::Options options;
    std::vector<std::string> passOn;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](const std::string& name) -> std::optional<std::string> {
            if (arg == "--" + name) {
                if (i + 1 >= args.size()) throw UsageError("--" + name + " needs a value");
                return args[++i];
            }
            if (arg.starts_with("--" + name + "=")) return arg.substr(name.size() + 3);
            return std::nullopt;
        };
        if (arg == "--") {
            passOn.insert(passOn.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (auto v = value("transport")) {
            transport = *v;
        } else if (auto d = value("description")) {
            options.description = *d;
        } else if (auto m = value("maildir")) {
            options.maildir = *m;
        } else {
            passOn.push_back(arg);
        }
    }
    if (transport.empty()) throw UsageError("--transport needs a command");

    const std::string message((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    Runtime runtime(options);
    if (!runtime.Connect()) return kExitConfig;
    std::shared_ptr<maildir::MaildirMailItem> item;
    try {
        item = runtime.Session().ParseMessage(message);
    } catch (...) {
        // Not a mail message at all: no fax of ours, so it is handed on untouched.
        runtime.Shutdown();
        return Deliver(TransportCommand(transport, passOn), message);
    }
    const int shownBefore = runtime.Messages().Shown();
    const bool goesAhead = runtime.Session().RaiseItemSend(item);
    runtime.Shutdown();
    if (!goesAhead) {
        std::fprintf(stderr, "vexa send: not sent: %s\n",
                     runtime.Messages().Shown() > shownBefore ? "the fax could not be recorded"
                                                               : "the description prompt was cancelled");
        return kExitTempFail;
    }
    return Deliver(TransportCommand(transport, passOn), item->RawMessageWithSubject());
}

}  // namespace vexa::cli
