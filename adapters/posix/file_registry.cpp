#include "adapters/posix/file_registry.h"

#include "host/ascii_text.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "adapters/posix/atomic_file.h"
#include "adapters/posix/utf16.h"
#include "adapters/posix/xdg.h"
#include "host/host_error.h"

namespace vexa {
namespace registry_file {

struct Value {
    // How the value is spelled in the file. Keeping the spelling, not just the type, lets a
    // save write back values that this code never touched exactly as they were read.
    enum class Form { kText, kDword, kHex };

    std::string name;
    std::uint32_t type = kRegNone;
    Form form = Form::kHex;
    std::string bytes;  // kText: the UTF-8 text; kDword: 4 bytes, little-endian; kHex: as listed
};

struct Key {
    std::string name;
    std::vector<Value> values;
    // Held by pointer so open handles stay valid while later keys are added.
    std::vector<std::unique_ptr<Key>> children;
};

}  // namespace registry_file

namespace {

using registry_file::Key;
using registry_file::Value;

constexpr std::string_view kSignature = "Windows Registry Editor Version 5.00";
constexpr std::string_view kBlanks = " \t";

struct RootName {
    RegKey handle;
    std::string_view name;
};

constexpr std::array<RootName, 5> kRoots{{
    {0x80000000u, "HKEY_CLASSES_ROOT"},
    {kHkeyCurrentUser, "HKEY_CURRENT_USER"},
    {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE"},
    {0x80000003u, "HKEY_USERS"},
    {0x80000005u, "HKEY_CURRENT_CONFIG"},
}};

// Windows hands out handles below the predefined range and in steps of four; keeping to
// that means a handle from here can never be mistaken for a root.
constexpr RegKey kFirstHandle = 0x100;
constexpr RegKey kPredefinedBase = 0x80000000u;
// As deep as Windows lets a registry tree grow. A file nested deeper is not one regedit wrote,
// and every walk of the tree recurses once per level, so the limit also keeps the stack safe.
constexpr std::size_t kMaxKeyDepth = 512;

std::string_view Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Empty parts are skipped, so "SOFTWARE\\Vexa\\" and "SOFTWARE\\\\Vexa" name the same key.
std::vector<std::string_view> SplitKeyPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        std::size_t end = path.find('\\');
        std::string_view part = path.substr(0, end);
        if (!part.empty()) {
            parts.push_back(part);
        }
        path.remove_prefix(end == std::string_view::npos ? path.size() : end + 1);
    }
    return parts;
}

Key* FindChild(const Key& parent, std::string_view name) {
    for (const std::unique_ptr<Key>& child : parent.children) {
        if (EqualsIgnoringAsciiCase(child->name, name)) {
            return child.get();
        }
    }
    return nullptr;
}

Key& FindOrAddChild(Key& parent, std::string_view name) {
    if (Key* child = FindChild(parent, name)) {
        return *child;
    }
    parent.children.push_back(std::make_unique<Key>());
    parent.children.back()->name = std::string(name);
    return *parent.children.back();
}

Value* FindValue(Key& key, std::string_view name) {
    for (Value& value : key.values) {
        if (EqualsIgnoringAsciiCase(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

bool IsStringType(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == 7; }

// The bytes RegQueryValueExA hands out: strings NUL-terminated in UTF-8, the A-call's
// counterpart of the UTF-16 the file holds for hex strings.
std::string Payload(const Value& value) {
    switch (value.form) {
        case Value::Form::kText:
            return value.bytes + '\0';
        case Value::Form::kDword:
            return value.bytes;
        case Value::Form::kHex:
            break;
    }
    if (!IsStringType(value.type)) {
        return value.bytes;
    }
    std::string text = Utf16LeToUtf8(value.bytes);
    if (value.type != 7 && (text.empty() || text.back() != '\0')) {
        text += '\0';
    }
    return text;
}

// --- Reading -----------------------------------------------------------------------------

class Parser {
public:
    Parser(const std::filesystem::path& path, Key& top) : path_(path), top_(top) {}

    void Parse(std::string text) {
        if (text.starts_with("\xFF\xFE")) {
            text = Utf16LeToUtf8(std::string_view(text).substr(2));
        }
        if (text.starts_with("\xEF\xBB\xBF")) {
            text.erase(0, 3);
        }
        SplitLines(text);
        if (lines_.empty()) {
            return;  // an empty file is taken as an empty registry, like a missing one
        }
        if (Trim(lines_[0]) != kSignature) {
            Fail(0, "it does not start with \"" + std::string(kSignature) + "\"");
        }
        for (next_ = 1; next_ < lines_.size();) {
            std::size_t lineIndex = next_++;
            std::string_view line = Trim(lines_[lineIndex]);
            if (line.empty() || line.front() == ';') {
                continue;
            }
            if (line.front() == '[') {
                ParseKeyHeader(lineIndex, line);
            } else if (line.front() == '@' || line.front() == '"') {
                ParseValue(lineIndex, line);
            } else {
                Fail(lineIndex, "it is neither a key nor a value");
            }
        }
    }

private:
    void SplitLines(std::string_view text) {
        while (!text.empty()) {
            std::size_t end = text.find('\n');
            std::string_view line = text.substr(0, end);
            if (line.ends_with('\r')) {
                line.remove_suffix(1);
            }
            lines_.emplace_back(line);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        }
    }

    [[noreturn]] void Fail(std::size_t lineIndex, const std::string& reason) const {
        throw HostError(EINVAL, "Can't read " + path_.string() + ": line " + std::to_string(lineIndex + 1) +
                                    " is not valid because " + reason);
    }

    void ParseKeyHeader(std::size_t lineIndex, std::string_view line) {
        if (!line.ends_with(']')) {
            Fail(lineIndex, "the key name has no closing ']'");
        }
        std::string_view path = line.substr(1, line.size() - 2);
        // "[-KEY]" in an import file deletes the key; reading it as a state file means the
        // key ends up absent.
        bool remove = path.starts_with('-');
        if (remove) {
            path.remove_prefix(1);
        }
        std::vector<std::string_view> parts = SplitKeyPath(path);
        if (parts.size() > kMaxKeyDepth + 1) {
            Fail(lineIndex, "the key is nested deeper than " + std::to_string(kMaxKeyDepth) + " levels");
        }
        Key* key = parts.empty() ? nullptr : FindChild(top_, parts[0]);
        if (key == nullptr) {
            Fail(lineIndex, "\"" + std::string(path) + "\" is not below a known root key");
        }
        current_ = nullptr;
        if (remove) {
            Key* parent = &top_;
            for (std::size_t i = 0; i + 1 < parts.size() && parent != nullptr; ++i) {
                parent = FindChild(*parent, parts[i]);
            }
            if (parent != nullptr && parts.size() > 1) {
                std::erase_if(parent->children, [&](const std::unique_ptr<Key>& child) {
                    return EqualsIgnoringAsciiCase(child->name, parts.back());
                });
            }
            return;
        }
        for (std::size_t i = 1; i < parts.size(); ++i) {
            key = &FindOrAddChild(*key, parts[i]);
        }
        current_ = key;
    }

    // Reads a "..." string starting at `text[0]`; returns the text and what follows the
    // closing quote, or nullopt when the quote is never closed.
    static std::optional<std::pair<std::string, std::string_view>> ReadQuoted(std::string_view text) {
        std::string out;
        for (std::size_t i = 1; i < text.size(); ++i) {
            char c = text[i];
            if (c == '"') {
                return std::make_pair(std::move(out), text.substr(i + 1));
            }
            if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
                c = text[++i];
            }
            out += c;
        }
        return std::nullopt;
    }

    void ParseValue(std::size_t lineIndex, std::string_view line) {
        if (current_ == nullptr) {
            Fail(lineIndex, "the value is not below a key");
        }
        Value value;
        std::string_view rest;
        if (line.front() == '@') {
            rest = line.substr(1);
        } else {
            auto quoted = ReadQuoted(line);
            if (!quoted) {
                Fail(lineIndex, "the value name has no closing quote");
            }
            value.name = std::move(quoted->first);
            rest = quoted->second;
        }
        rest = Trim(rest);
        if (!rest.starts_with('=')) {
            Fail(lineIndex, "the value name is not followed by '='");
        }
        std::string_view data = Trim(rest.substr(1));

        if (data == "-") {
            std::erase_if(current_->values,
                          [&](const Value& v) { return EqualsIgnoringAsciiCase(v.name, value.name); });
            return;
        }
        if (data.starts_with('"')) {
            auto quoted = ReadQuoted(data);
            if (!quoted || !Trim(quoted->second).empty()) {
                Fail(lineIndex, "the text value is not a single quoted string");
            }
            value.type = kRegSz;
            value.form = Value::Form::kText;
            value.bytes = std::move(quoted->first);
        } else if (data.starts_with("dword:")) {
            value.type = kRegDword;
            value.form = Value::Form::kDword;
            std::optional<std::uint32_t> number = ParseHex(data.substr(6), 8);
            if (!number) {
                Fail(lineIndex, "the dword value is not 1 to 8 hex digits");
            }
            for (int shift = 0; shift < 32; shift += 8) {
                value.bytes += static_cast<char>((*number >> shift) & 0xFF);
            }
        } else if (data.starts_with("hex")) {
            ParseHexValue(lineIndex, data.substr(3), value);
        } else {
            Fail(lineIndex, "the value's data has an unknown form");
        }
        Store(std::move(value));
    }

    static std::optional<std::uint32_t> ParseHex(std::string_view digits, std::size_t maxDigits) {
        if (digits.empty() || digits.size() > maxDigits) {
            return std::nullopt;
        }
        std::uint32_t number = 0;
        for (char c : digits) {
            int digit = (c >= '0' && c <= '9') ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
            if (digit < 0) {
                return std::nullopt;
            }
            number = number * 16 + static_cast<std::uint32_t>(digit);
        }
        return number;
    }

    // "hex:" is REG_BINARY, "hex(N):" any type N. regedit wraps long lists with a trailing
    // backslash and continues on the next line.
    void ParseHexValue(std::size_t lineIndex, std::string_view afterHex, Value& value) {
        value.form = Value::Form::kHex;
        value.type = kRegBinary;
        if (afterHex.starts_with('(')) {
            std::size_t close = afterHex.find(')');
            std::optional<std::uint32_t> type =
                close == std::string_view::npos ? std::nullopt : ParseHex(afterHex.substr(1, close - 1), 8);
            if (!type) {
                Fail(lineIndex, "the hex value's type is not a hex number");
            }
            value.type = *type;
            afterHex.remove_prefix(close + 1);
        }
        if (!afterHex.starts_with(':')) {
            Fail(lineIndex, "the hex value has no ':'");
        }
        std::string list(Trim(afterHex.substr(1)));
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (next_ >= lines_.size()) {
                Fail(lineIndex, "the hex value continues past the end of the file");
            }
            list += Trim(lines_[next_++]);
        }
        std::string_view items = list;
        while (!items.empty()) {
            std::size_t comma = items.find(',');
            std::string_view item = Trim(items.substr(0, comma));
            items.remove_prefix(comma == std::string_view::npos ? items.size() : comma + 1);
            if (item.empty() && items.empty()) {
                break;  // a trailing comma before a line continuation
            }
            std::optional<std::uint32_t> byte = ParseHex(item, 2);
            if (!byte) {
                Fail(lineIndex, "the hex value holds \"" + std::string(item) + "\", which is not a byte");
            }
            value.bytes += static_cast<char>(*byte);
        }
    }

    void Store(Value value) {
        if (Value* existing = FindValue(*current_, value.name)) {
            *existing = std::move(value);
        } else {
            current_->values.push_back(std::move(value));
        }
    }

    const std::filesystem::path& path_;
    Key& top_;
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
    Key* current_ = nullptr;
};

// --- Writing -----------------------------------------------------------------------------

std::string Quote(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string HexList(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string list;
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (!list.empty()) {
            list += ',';
        }
        list += kDigits[byte >> 4];
        list += kDigits[byte & 0xF];
    }
    return list;
}

std::string HexTypePrefix(std::uint32_t type) {
    if (type == kRegBinary) {
        return "hex:";
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[type & 0xF]);
        type >>= 4;
    } while (type != 0);
    return "hex(" + digits + "):";
}

std::string DataText(const Value& value) {
    switch (value.form) {
        case Value::Form::kText:
            // A quoted string cannot span lines, so text with a line break (or a NUL) goes out
            // the way regedit writes such text: UTF-16LE in hex(1).
            if (value.bytes.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
                return HexTypePrefix(kRegSz) + HexList(Utf8ToUtf16Le(value.bytes) + std::string(2, '\0'));
            }
            return Quote(value.bytes);
        case Value::Form::kDword: {
            std::uint32_t number = 0;
            for (std::size_t i = 0; i < 4 && i < value.bytes.size(); ++i) {
                number |= static_cast<std::uint32_t>(static_cast<unsigned char>(value.bytes[i])) << (8 * i);
            }
            char text[16];
            std::snprintf(text, sizeof text, "dword:%08x", number);
            return text;
        }
        case Value::Form::kHex:
            break;
    }
    return HexTypePrefix(value.type) + HexList(value.bytes);
}

void WriteKey(const Key& key, const std::string& path, bool isRoot, std::string& out) {
    // Every key is written so that keys without values survive; a root only when it holds
    // values, since it exists anyway.
    if (!isRoot || !key.values.empty()) {
        out += "[" + path + "]\n";
        for (const Value& value : key.values) {
            out += (value.name.empty() ? std::string("@") : Quote(value.name)) + "=" + DataText(value) + "\n";
        }
        out += "\n";
    }
    for (const std::unique_ptr<Key>& child : key.children) {
        WriteKey(*child, path + "\\" + child->name, false, out);
    }
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// How many levels below `from` (at `level`) the key `target` is; nullopt when it is not there.
std::optional<std::size_t> LevelOf(const Key& from, const Key* target, std::size_t level) {
    if (&from == target) {
        return level;
    }
    for (const std::unique_ptr<Key>& child : from.children) {
        if (std::optional<std::size_t> found = LevelOf(*child, target, level + 1)) {
            return found;
        }
    }
    return std::nullopt;
}

}  // namespace

FileRegistry::FileRegistry(std::filesystem::path path) : FileRegistry(path, ReadFileIfPresent(path).value_or("")) {}

FileRegistry::FileRegistry(std::filesystem::path path, std::string_view contents)
    : path_(std::move(path)), top_(std::make_unique<Key>()) {
    for (const RootName& root : kRoots) {
        FindOrAddChild(*top_, root.name);
    }
    Parser(path_, *top_).Parse(std::string(contents));
}

FileRegistry::~FileRegistry() = default;

Key* FileRegistry::Resolve(RegKey key) const {
    for (const RootName& root : kRoots) {
        if (root.handle == key) {
            return FindChild(*top_, root.name);
        }
    }
    auto found = handles_.find(key);
    return found == handles_.end() ? nullptr : found->second;
}

std::int32_t FileRegistry::RegOpenKeyA(RegKey key, const char* subKey, RegKey& opened) {
    Key* current = Resolve(key);
    if (current == nullptr) {
        return kRegInvalidHandle;
    }
    for (std::string_view part : SplitKeyPath(subKey == nullptr ? "" : subKey)) {
        current = FindChild(*current, part);
        if (current == nullptr) {
            return kRegFileNotFound;
        }
    }
    RegKey handle = lastHandle_;
    do {
        handle += 4;
        if (handle < kFirstHandle || handle >= kPredefinedBase) {
            handle = kFirstHandle;
        }
    } while (handles_.contains(handle));
    lastHandle_ = handle;
    handles_.emplace(handle, current);
    opened = handle;
    return kRegSuccess;
}

std::int32_t FileRegistry::RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* /*reserved*/,
                                            std::uint32_t& type, unsigned char* data, std::uint32_t& size) {
    Key* current = Resolve(key);
    if (current == nullptr) {
        return kRegInvalidHandle;
    }
    const Value* value = FindValue(*current, valueName == nullptr ? "" : valueName);
    if (value == nullptr) {
        return kRegFileNotFound;
    }
    std::string payload = Payload(*value);
    type = value->type;
    std::uint32_t capacity = size;
    size = static_cast<std::uint32_t>(payload.size());
    if (data == nullptr) {
        return kRegSuccess;
    }
    if (capacity < payload.size()) {
        return kRegMoreData;
    }
    std::memcpy(data, payload.data(), payload.size());
    return kRegSuccess;
}

std::int32_t FileRegistry::RegCloseKey(RegKey key) {
    return handles_.erase(key) == 1 ? kRegSuccess : kRegInvalidHandle;
}

void FileRegistry::SetString(RegKey root, const std::string& subKey, const std::string& valueName,
                             const std::string& value) {
    SetValue(root, subKey, Value{valueName, kRegSz, Value::Form::kText, value});
}

void FileRegistry::SetDword(RegKey root, const std::string& subKey, const std::string& valueName,
                            std::uint32_t value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) {
        bytes += static_cast<char>((value >> shift) & 0xFF);
    }
    SetValue(root, subKey, Value{valueName, kRegDword, Value::Form::kDword, std::move(bytes)});
}

void FileRegistry::SetValue(RegKey root, const std::string& subKey, Value value) {
    Key* key = Resolve(root);
    if (key == nullptr) {
        throw HostError(EINVAL, "Can't write " + path_.string() + ": the registry key handle is not open");
    }
    if (HasLineBreak(subKey) || HasLineBreak(value.name)) {
        throw HostError(EINVAL, "Can't write " + path_.string() + ": a registry name can't hold a line break");
    }
    // The roots are one level below the top; their keys are counted from there.
    if (LevelOf(*top_, key, 0).value_or(1) - 1 + SplitKeyPath(subKey).size() > kMaxKeyDepth) {
        throw HostError(EINVAL, "Can't write " + path_.string() + ": the key would be nested deeper than " +
                                    std::to_string(kMaxKeyDepth) + " levels");
    }
    // Remembered so that a failed save can take back exactly what this call added or changed.
    Key* firstNewKeyParent = nullptr;
    for (std::string_view part : SplitKeyPath(subKey)) {
        if (firstNewKeyParent == nullptr && FindChild(*key, part) == nullptr) {
            firstNewKeyParent = key;
        }
        key = &FindOrAddChild(*key, part);
    }
    Value* existing = FindValue(*key, value.name);
    std::optional<Value> previous;
    if (existing != nullptr) {
        previous = *existing;
        value.name = existing->name;  // keeps the spelling the file had
        *existing = std::move(value);
    } else {
        key->values.push_back(std::move(value));
    }
    try {
        Save();
    } catch (...) {
        if (firstNewKeyParent != nullptr) {
            firstNewKeyParent->children.pop_back();
        } else if (previous) {
            *existing = std::move(*previous);
        } else {
            key->values.pop_back();
        }
        throw;
    }
}

std::string FileRegistry::Text() const {
    std::string text = std::string(kSignature) + "\n\n";
    for (const std::unique_ptr<Key>& root : top_->children) {
        WriteKey(*root, root->name, true, text);
    }
    return text;
}

void FileRegistry::Save() const { WriteFileAtomically(path_, Text()); }

std::filesystem::path DefaultRegistryPath() { return XdgConfigHome() / "vexa" / "registry.reg"; }

}  // namespace vexa
