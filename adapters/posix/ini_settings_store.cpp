#include "adapters/posix/ini_settings_store.h"

#include "host/ascii_text.h"

#include <cerrno>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "adapters/posix/atomic_file.h"
#include "adapters/posix/xdg.h"
#include "host/host_error.h"

// The file belongs to this one application, so the application name that the interface
// carries (it selects a registry branch on Windows) plays no part in where a value lives.

namespace vexa::posix {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool IsBlank(std::string_view line) { return line.find_first_not_of(" \t\r") == std::string_view::npos; }

// Quoting every value is what keeps leading blanks, '=' and comment characters from being
// misread, and the escapes keep a value with line breaks on one line.
std::string QuoteValue(std::string_view value) {
    std::string quoted = "\"";
    for (char c : value) {
        switch (c) {
            case '\\': quoted += "\\\\"; break;
            case '"': quoted += "\\\""; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            default: quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

// Parses a value that starts with '"'. An unterminated quote is taken to be a hand-edited
// value that merely starts with a quote, so nullopt sends the caller to the raw text.
std::optional<std::string> UnquoteValue(std::string_view text) {
    std::string value;
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            return value;
        }
        if (c != '\\' || i + 1 == text.size()) {
            value += c;
            continue;
        }
        char escaped = text[++i];
        switch (escaped) {
            case '\\': value += '\\'; break;
            case '"': value += '"'; break;
            case 'n': value += '\n'; break;
            case 'r': value += '\r'; break;
            case 't': value += '\t'; break;
            default:
                // A hand-typed Windows path such as "C:\Data" means its backslash literally.
                value += '\\';
                value += escaped;
        }
    }
    return std::nullopt;
}

// Blank lines and comments, the lines that are neither a section nor a key on purpose.
bool IsComment(std::string_view raw, bool first) {
    if (first && raw.starts_with(kUtf8Bom)) {
        raw.remove_prefix(kUtf8Bom.size());
    }
    std::size_t start = raw.find_first_not_of(" \t\r");
    return start == std::string_view::npos || raw[start] == ';' || raw[start] == '#';
}

struct Line {
    enum class Kind { kOther, kSection, kKey };
    Kind kind = Kind::kOther;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // text after the key's '=', trimmed
    std::size_t equalsPos = 0;
};

Line Classify(std::string_view raw, bool first) {
    std::size_t bomSize = (first && raw.starts_with(kUtf8Bom)) ? kUtf8Bom.size() : 0;
    raw.remove_prefix(bomSize);
    if (!raw.empty() && raw.back() == '\r') {
        raw.remove_suffix(1);
    }
    std::string_view text = Trim(raw);
    Line line;
    if (text.empty() || text.front() == ';' || text.front() == '#') {
        return line;
    }
    if (text.front() == '[') {
        std::size_t close = text.rfind(']');
        if (close != std::string_view::npos) {
            line.kind = Line::Kind::kSection;
            line.name = Trim(text.substr(1, close - 1));
        }
        return line;
    }
    std::size_t equals = raw.find('=');
    if (equals == std::string_view::npos || Trim(raw.substr(0, equals)).empty()) {
        return line;
    }
    line.kind = Line::Kind::kKey;
    line.name = Trim(raw.substr(0, equals));
    line.value = Trim(raw.substr(equals + 1));
    line.equalsPos = bomSize + equals;
    return line;
}

std::string ValueOf(const Line& line) {
    if (line.value.starts_with('"')) {
        if (std::optional<std::string> unquoted = UnquoteValue(line.value)) {
            return *unquoted;
        }
    }
    return std::string(line.value);
}

bool IsStorableSection(std::string_view section) {
    return !section.empty() && section.find_first_of("\r\n") == std::string_view::npos;
}

bool IsStorableKey(std::string_view key) {
    return !key.empty() && key.find_first_of("=\r\n") == std::string_view::npos &&
           key.front() != ';' && key.front() != '#' && key.front() != '[';
}

// The file as a list of lines, kept verbatim so that a save disturbs only the line it changes.
class IniDocument {
public:
    explicit IniDocument(std::string_view contents) {
        while (!contents.empty()) {
            std::size_t end = contents.find('\n');
            lines_.emplace_back(contents.substr(0, end));
            contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
        }
        // A file last edited on Windows keeps its CRLF line ends on the lines we add.
        if (!lines_.empty() && lines_.front().ends_with('\r')) {
            lineEnd_ = "\r";
        }
    }

    std::optional<std::string> Find(std::string_view section, std::string_view key) const {
        if (std::optional<std::size_t> index = FindKeyLine(section, key)) {
            return ValueOf(ClassifyAt(*index));
        }
        return std::nullopt;
    }

    void Set(std::string_view section, std::string_view key, std::string_view value) {
        if (std::optional<std::size_t> index = FindKeyLine(section, key)) {
            // Keeps the key's spelling and indentation as the file had them.
            std::string& raw = lines_[*index];
            std::string ownLineEnd = raw.ends_with('\r') ? "\r" : "";
            raw = raw.substr(0, ClassifyAt(*index).equalsPos + 1) + QuoteValue(value) + ownLineEnd;
            return;
        }
        std::string newLine = std::string(key) + "=" + QuoteValue(value) + lineEnd_;
        if (std::optional<std::size_t> last = LastContentLineOfSection(section)) {
            lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*last + 1), std::move(newLine));
            return;
        }
        std::string header = "[" + std::string(section) + "]" + lineEnd_;
        const std::optional<std::size_t> first = FirstSectionLine();
        if (!first) {
            if (!lines_.empty() && !IsBlank(lines_.back())) {
                lines_.push_back(lineEnd_);
            }
            lines_.push_back(std::move(header));
            lines_.push_back(std::move(newLine));
            return;
        }
        // A new section goes in front of the others, not after them: the last section of the
        // file stays last, so that a line someone appends to the file by hand still lands in the
        // section it was meant for. Comment lines right above the first section stay with it.
        std::size_t at = *first;
        while (at > 0 && !IsBlank(lines_[at - 1]) && ClassifyAt(at - 1).kind == Line::Kind::kOther &&
               IsComment(lines_[at - 1], at - 1 == 0)) {
            --at;
        }
        if (at == 0 && lines_.front().starts_with(kUtf8Bom)) {
            // The byte order mark stays at the very start of the file.
            lines_.front().erase(0, kUtf8Bom.size());
            header.insert(0, kUtf8Bom);
        }
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), {std::move(header), std::move(newLine), lineEnd_});
    }

    // Every name=value line: its number (from 1), the section it is in ("" before the first).
    std::vector<ini::KeyLine> Keys() const {
        std::vector<ini::KeyLine> keys;
        std::string section;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const Line line = ClassifyAt(i);
            if (line.kind == Line::Kind::kSection) section = line.name;
            if (line.kind == Line::Kind::kKey) keys.push_back({i + 1, section, std::string(line.name)});
        }
        return keys;
    }

    bool HasSection(std::string_view section) const {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            Line line = ClassifyAt(i);
            if (line.kind == Line::Kind::kSection && EqualsIgnoringAsciiCase(line.name, section)) {
                return true;
            }
        }
        return false;
    }

    std::optional<std::size_t> FirstStrayLine() const {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (ClassifyAt(i).kind == Line::Kind::kOther && !IsComment(lines_[i], i == 0)) {
                return i + 1;
            }
        }
        return std::nullopt;
    }

    std::string Text() const {
        std::string text;
        for (const std::string& line : lines_) {
            text += line;
            text += '\n';
        }
        return text;
    }

private:
    Line ClassifyAt(std::size_t index) const { return Classify(lines_[index], index == 0); }

    // Keys of a section that appears twice in a hand-edited file count as one section; the
    // first occurrence of a key wins, as with GetPrivateProfileString.
    std::optional<std::size_t> FindKeyLine(std::string_view section, std::string_view key) const {
        bool inSection = false;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            Line line = ClassifyAt(i);
            if (line.kind == Line::Kind::kSection) {
                inSection = EqualsIgnoringAsciiCase(line.name, section);
            } else if (inSection && line.kind == Line::Kind::kKey && EqualsIgnoringAsciiCase(line.name, key)) {
                return i;
            }
        }
        return std::nullopt;
    }

    // The header or last key line of the section's first occurrence: a new key goes right
    // after it, ahead of any blank lines or comments that lead into the next section.
    std::optional<std::size_t> LastContentLineOfSection(std::string_view section) const {
        std::optional<std::size_t> last;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            Line line = ClassifyAt(i);
            if (line.kind == Line::Kind::kSection) {
                if (last) {
                    return last;
                }
                if (EqualsIgnoringAsciiCase(line.name, section)) {
                    last = i;
                }
            } else if (last && line.kind == Line::Kind::kKey) {
                last = i;
            }
        }
        return last;
    }

    std::optional<std::size_t> FirstSectionLine() const {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (ClassifyAt(i).kind == Line::Kind::kSection) return i;
        }
        return std::nullopt;
    }

    std::vector<std::string> lines_;
    std::string lineEnd_;
};

// Why the file cannot hold a value under these names, or nothing when it can.
std::optional<std::string> NameProblem(const std::string& section, const std::string& key) {
    if (!IsStorableSection(Trim(section))) {
        return "\"" + section + "\" is not a valid section name";
    }
    if (!IsStorableKey(Trim(key))) {
        return "\"" + key + "\" is not a valid key name";
    }
    return std::nullopt;
}

}  // namespace

namespace ini {

std::optional<std::string> ReadSetting(std::string_view contents, const std::string& section,
                                       const std::string& key) {
    if (NameProblem(section, key)) {
        return std::nullopt;
    }
    return IniDocument(contents).Find(Trim(section), Trim(key));
}

std::string WriteSetting(std::string_view contents, const std::string& section, const std::string& key,
                         std::string_view value) {
    if (std::optional<std::string> problem = NameProblem(section, key)) {
        throw std::invalid_argument(*problem);
    }
    IniDocument document(contents);
    document.Set(Trim(section), Trim(key), value);
    return document.Text();
}

bool HasSection(std::string_view contents, std::string_view section) {
    return IniDocument(contents).HasSection(Trim(section));
}

std::optional<std::size_t> FirstStrayLine(std::string_view contents) { return IniDocument(contents).FirstStrayLine(); }

std::vector<KeyLine> Keys(std::string_view contents) { return IniDocument(contents).Keys(); }

}  // namespace ini

IniSettingsStore::IniSettingsStore(std::filesystem::path path) : path_(std::move(path)) {}

std::string IniSettingsStore::GetSetting(const std::string& /*appName*/, const std::string& section,
                                         const std::string& key, const std::string& defaultValue) {
    // A name the file cannot hold is never in it: the file is not even read.
    if (NameProblem(section, key)) {
        return defaultValue;
    }
    std::optional<std::string> contents = ReadFileIfPresent(path_);
    if (!contents) {
        return defaultValue;
    }
    return ini::ReadSetting(*contents, section, key).value_or(defaultValue);
}

void IniSettingsStore::SaveSetting(const std::string& /*appName*/, const std::string& section,
                                   const std::string& key, const std::string& value) {
    if (std::optional<std::string> problem = NameProblem(section, key)) {
        throw HostError(EINVAL, "Can't write " + path_.string() + ": " + *problem);
    }
    // An unreadable file is reported rather than replaced: rewriting it from nothing would
    // silently drop every other setting in it.
    std::string contents = ReadFileIfPresent(path_).value_or(std::string());
    WriteFileAtomically(path_, ini::WriteSetting(contents, section, key, value));
}

std::filesystem::path DefaultSettingsPath() { return XdgConfigHome() / "vexa" / "settings.ini"; }

}  // namespace vexa::posix
