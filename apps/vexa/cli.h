// What every subcommand of the vexa command shares: exit codes, usage errors, and the table of
// subcommands with their one-line help.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace vexa::cli {

// sysexits.h numbers, which mail tools and their callers understand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitReported = 1;  // a message was shown to the user
inline constexpr int kExitUsage = 64;
inline constexpr int kExitDataError = 65;  // the data in the way: nothing was changed
inline constexpr int kExitIoError = 74;  // the output could not be written
inline constexpr int kExitTempFail = 75;  // send stopped: the mail reader keeps the message
inline constexpr int kExitConfig = 78;    // start-up failed

// A command line that does not make sense; main prints it with the usage hint and exits 64.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* synopsis;
    const char* summary;
    int (*run)(const Args& args);
};

int RunInit(const Args& args);
int RunScan(const Args& args);
int RunWatch(const Args& args);
int RunSend(const Args& args);
int RunRelay(const Args& args);
int RunConvert(const Args& args);
int RunOptions(const Args& args);
int RunList(const Args& args);
int RunView(const Args& args);
int RunExportFiles(const Args& args);
int RunMigrate(const Args& args);
int RunOpen(const Args& args);
int RunManual(const Args& args);

const std::vector<Command>& Commands();

// The text of `vexa COMMAND --help`.
std::string CommandHelp(const Command& command);

}  // namespace vexa::cli
