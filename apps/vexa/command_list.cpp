// vexa list: the rows of the received or sent faxes as the viewer lists them, newest first unless
// sorted otherwise, for a terminal or a script. Reads the archive of the installation only; no mailbox is needed.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "apps/vexa/cli.h"
#include "apps/vexa/command_runtime.h"
#include "apps/vexa/option_parser.h"
#include "archive/archive_names.h"
#include "linux/installation_archive.h"
#include "viewer/list_output.h"

namespace vexa::cli {

using linuxhost::OpenArchiveQueries;
namespace {

using viewer::FormatRows;
using viewer::ListFormat;

// A calendar day as YYYY-MM-DD, else a usage error naming the option.
std::string Day(const std::string& option, const std::string& text) {
    if (IsCalendarDay(text)) return text;
    throw UsageError("--" + option + " takes a date as YYYY-MM-DD, not '" + text + "'");
}

ListQuery ParseQuery(const std::string& list, const ParsedOptions& options) {
    ListQuery query;
    if (list == "recv") {
        query.table = ArchiveTable::Recv;
    } else if (list == "send") {
        query.table = ArchiveTable::Send;
    } else {
        throw UsageError("no list '" + list + "': recv or send");
    }
    query.onlyNew = options.Has("new");
    if (query.onlyNew && query.table != ArchiveTable::Recv) throw UsageError("--new is for the received faxes");
    if (const auto state = options.Value("state")) {
        if (query.table != ArchiveTable::Send) throw UsageError("--state is for the sent faxes");
        query.state = ConfirmStateNamed(*state);
        if (!query.state) {
            throw UsageError("--state is Unconfirmed, Successful or Unsuccessful, not '" + *state + "'");
        }
    }
    query.search = options.Value("search").value_or("");
    if (const auto since = options.Value("since")) query.since = Day("since", *since);
    if (const auto until = options.Value("until")) query.until = Day("until", *until);
    if (const auto sort = options.Value("sort")) {
        const auto column = SortColumnNamed(*sort);
        if (!column) {
            throw UsageError("--sort is date, number, subject, description, file, state or who, not '" + *sort + "'");
        }
        query.sort = *column;
    }
    if (options.Has("ascending") && options.Has("descending")) {
        throw UsageError("--ascending and --descending exclude each other");
    }
    query.ascending = options.Has("ascending");
    return query;
}

ListFormat ParseFormat(const ParsedOptions& options) {
    const std::string format = options.Value("format").value_or("table");
    if (format == "table") return ListFormat::Table;
    if (format == "csv") return ListFormat::Csv;
    if (format == "json") return ListFormat::Json;
    throw UsageError("--format is table, csv or json, not '" + format + "'");
}

}  // namespace

int RunList(const Args& args) {
    // The list is named first, as in `vexa list recv --new`; the options follow it.
    if (args.empty() || args[0].starts_with("-")) throw UsageError("name the list first: recv or send");
    const ParsedOptions options =
        ParseOptions(Args(args.begin() + 1, args.end()), {{"new", false},
                                                          {"state", true},
                                                          {"search", true},
                                                          {"since", true},
                                                          {"until", true},
                                                          {"sort", true},
                                                          {"ascending", false},
                                                          {"descending", false},
                                                          {"format", true}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    const ListQuery query = ParseQuery(args[0], options);
    const ListFormat format = ParseFormat(options);
    // The installation is found as the add-in finds it at start-up, over a mailbox of its own
    // when there is none: listing never touches mail.
    CommandRuntime runtime({std::nullopt, std::nullopt, true});
    if (!runtime.Connect()) return kExitConfig;
    const std::filesystem::path archive = std::filesystem::path(runtime.Addin().AppPath()) / kArchiveFileName;
    runtime.Shutdown();
    const auto queries = OpenArchiveQueries(archive.parent_path());
    const std::string text = FormatRows(queries->List(query), query.table, format);
    // A list cut short (a full disk, a closed pipe) must not pass for the whole archive.
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "vexa list: can't write the list: %s\n", std::strerror(errno));
        return kExitIoError;
    }
    return runtime.ExitStatus();
}

}  // namespace vexa::cli
