#include "viewer/list_output.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <string_view>

namespace vexa::viewer {
namespace {

// The code point of the UTF-8 sequence at `text[i]` and its length in bytes; length 0 when the
// byte starts no valid sequence (overlong forms and surrogates included).
struct Decoded {
    char32_t code = 0;
    std::size_t length = 0;
};

Decoded DecodeAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return {};
    }
    if (i + length > text.size()) return {};
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {};
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
    return {code, length};
}

std::string Hex(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Characters as a terminal shows them: one column each (wide characters left aside).
// The escapes that JSON and a terminal line spell alike; null for other characters.
const char* ShortEscape(char32_t code) {
    switch (code) {
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        default: return nullptr;
    }
}

std::size_t Width(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size(); ++width) {
        const Decoded decoded = DecodeAt(text, i);
        i += decoded.length == 0 ? 1 : decoded.length;
    }
    return width;
}

std::vector<std::string> Header(ArchiveTable table) {
    return {"Id",     "Date",   "Number", "Subject", "Description", "FileName",
            "FileId", "Who", table == ArchiveTable::Recv ? "New" : "Confirm"};
}

std::vector<std::string> Fields(const ArchiveRow& row, ArchiveTable table) {
    return {std::to_string(row.id), row.date, row.number, row.subject, row.description, row.fileName, row.fileId, row.who,
            table == ArchiveTable::Recv ? (row.isNew ? "1" : "0") : ConfirmStateName(row.confirm)};
}

// Marks that turn the direction of the text around: a stranger's "x<U+202E>fdp.exe" would show
// as "xexe.pdf".
bool IsBidiControl(char32_t code) {
    return code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// A spreadsheet takes a cell that starts with =, +, -, @, a tab or a carriage return for a
// formula, and a stranger's subject "=HYPERLINK(...)" would run there. Such a cell gets a
// leading apostrophe, the spreadsheets' own mark for text. A plain number ("+49 30 1234", "-5")
// is no formula and stays as it is.
bool ReadAsFormula(const std::string& text) {
    if (text.empty() || std::string_view("=+-@\t\r").find(text[0]) == std::string_view::npos) return false;
    if (text[0] != '+' && text[0] != '-') return true;
    return text.size() == 1 || text.find_first_not_of("0123456789 ./()", 1) != std::string::npos;
}

std::string CsvField(const std::string& cell) {
    const std::string text = ReadAsFormula(cell) ? "'" + cell : cell;
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// A JSON string; bytes that are no UTF-8 become U+FFFD, so the output always parses.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const Decoded decoded = DecodeAt(text, i);
        if (decoded.length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        const char32_t code = decoded.code;
        if (code == '"' || code == '\\') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (const char* escape = ShortEscape(code)) {
            out += escape;
        } else if (code < 0x20 || code == 0x7F) {
            out += Hex("\\u%04x", static_cast<unsigned>(code));
        } else {
            out += text.substr(i, decoded.length);
        }
        i += decoded.length;
    }
    return out + "\"";
}

std::string Table(const std::vector<ArchiveRow>& rows, ArchiveTable table) {
    std::vector<std::vector<std::string>> lines = {Header(table)};
    for (const auto& row : rows) {
        auto fields = Fields(row, table);
        for (auto& field : fields) field = EscapeForTerminal(field);
        lines.push_back(std::move(fields));
    }
    std::vector<std::size_t> widths(lines.front().size(), 0);
    for (const auto& line : lines) {
        for (std::size_t column = 0; column < line.size(); ++column) {
            widths[column] = std::max(widths[column], Width(line[column]));
        }
    }
    std::string out;
    for (const auto& line : lines) {
        std::string text;
        for (std::size_t column = 0; column < line.size(); ++column) {
            if (column > 0) text += "  ";
            text += line[column];
            if (column + 1 < line.size()) text.append(widths[column] - Width(line[column]), ' ');
        }
        out += text + "\n";
    }
    return out;
}

std::string Csv(const std::vector<ArchiveRow>& rows, ArchiveTable table) {
    std::vector<std::vector<std::string>> lines = {Header(table)};
    for (const auto& row : rows) lines.push_back(Fields(row, table));
    std::string out;
    for (const auto& line : lines) {
        for (std::size_t column = 0; column < line.size(); ++column) {
            if (column > 0) out += ',';
            out += CsvField(line[column]);
        }
        out += "\r\n";
    }
    return out;
}

std::string Json(const std::vector<ArchiveRow>& rows, ArchiveTable table) {
    const auto header = Header(table);
    std::string out = "[";
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const auto fields = Fields(rows[index], table);
        out += index == 0 ? "\n  {" : ",\n  {";
        for (std::size_t column = 0; column < fields.size(); ++column) {
            if (column > 0) out += ", ";
            out += JsonString(header[column]) + ": ";
            // Id is a number and New a truth value; everything else is text.
            if (column == 0) {
                out += fields[column];
            } else if (table == ArchiveTable::Recv && column + 1 == fields.size()) {
                out += rows[index].isNew ? "true" : "false";
            } else {
                out += JsonString(fields[column]);
            }
        }
        out += "}";
    }
    return out + (rows.empty() ? "]\n" : "\n]\n");
}

}  // namespace

std::string EscapeForTerminal(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const Decoded decoded = DecodeAt(text, i);
        if (decoded.length == 0) {
            out += Hex("\\x%02x", static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        const char32_t code = decoded.code;
        if (code == '\\') {
            out += "\\\\";
        } else if (const char* escape = ShortEscape(code)) {
            out += escape;
        } else if (code < 0x20 || code == 0x7F) {
            out += Hex("\\x%02x", static_cast<unsigned>(code));
        } else if ((code >= 0x80 && code <= 0x9F) || IsBidiControl(code)) {
            out += Hex("\\u%04x", static_cast<unsigned>(code));
        } else {
            out.append(text, i, decoded.length);
        }
        i += decoded.length;
    }
    return out;
}

std::string FormatRows(const std::vector<ArchiveRow>& rows, ArchiveTable table, ListFormat format) {
    switch (format) {
        case ListFormat::Csv: return Csv(rows, table);
        case ListFormat::Json: return Json(rows, table);
        case ListFormat::Table: break;
    }
    return Table(rows, table);
}

}  // namespace vexa::viewer
