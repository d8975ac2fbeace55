// vexa: Vexa - Message Manager on a Linux mailbox. Archives received faxes, sent faxes and the
// service's confirmations from a Maildir, and keeps the Inbox clear of them.

#include <cstdio>
#include <cstring>
#include <string>

#include "apps/vexa/cli.h"
#include "apps/vexa/settings_check.h"
#include "host/host_error.h"

namespace vexa::cli {
namespace {

constexpr const char* kVersion = "0.1.0";

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "Usage: vexa COMMAND [OPTIONS]\n\nVexa - Message Manager archives fax-to-e-mail traffic from a Maildir.\n\nCommands:\n");
    for (const auto& command : Commands()) std::fprintf(out, "  %-9s %s\n", command.name, command.summary);
    std::fprintf(out, "\nRun 'vexa COMMAND --help' for a command's options.\n");
}

// Every command answers --help before anything else: no option is parsed and nothing is read,
// not even the message a sender would otherwise wait for on standard input. After "--" the words
// are recipients or files, whatever they look like.
bool AsksForHelp(const Args& args) {
    for (const auto& arg : args) {
        if (arg == "--") return false;
        if (arg == "--help") return true;
    }
    return !args.empty() && args[0] == "-h";
}

}  // namespace
}  // namespace vexa::cli

int main(int argc, char** argv) {
    using namespace vexa::cli;
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (name == "--version") {
        std::printf("vexa %s\n", kVersion);
        return kExitOk;
    }
    for (const auto& command : Commands()) {
        if (name != command.name) continue;
        Args args(argv + 2, argv + argc);
        if (AsksForHelp(args)) {
            std::fputs(CommandHelp(command).c_str(), stdout);
            return kExitOk;
        }
        try {
            WarnAboutSettings();
            return command.run(args);
        } catch (const UsageError& e) {
            std::fprintf(stderr, "vexa %s: %s\n%s", command.name, e.what(), CommandHelp(command).c_str());
            return kExitUsage;
        } catch (...) {
            std::fprintf(stderr, "vexa %s: %s\n", command.name, vexa::CurrentErrorDescription().c_str());
            return kExitReported;
        }
    }
    std::fprintf(stderr, "vexa: unknown command '%s'\n", name.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}
