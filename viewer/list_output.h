// How `vexa list` writes archive rows: an aligned table for a terminal, CSV (RFC 4180) or JSON.
// The rows come from strangers' mail, so a table shows their control characters escaped (a
// subject can never move the cursor or recolour the terminal), and CSV and JSON quote them.
#pragma once

#include <string>
#include <vector>

#include "archive/archive_queries.h"

namespace vexa::viewer {

enum class ListFormat { Table, Csv, Json };

// The whole output for the rows of `table`, newline-terminated.
std::string FormatRows(const std::vector<ArchiveRow>& rows, ArchiveTable table, ListFormat format);

// `text` with every control character (C0, DEL, C1) and every byte that is no UTF-8 shown as an
// escape: "\n", "\t", "\r", "\xNN" or "\u0085"; a backslash doubled.
std::string EscapeForTerminal(const std::string& text);

}  // namespace vexa::viewer
