// What every harness shares: a property check that stops the run with the input saved, a
// scratch folder that is removed with everything in it, and the split of an input into fields.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace vexa::fuzz {

// Printable form of bytes for a failure message.
inline std::string Escaped(std::string_view bytes) {
    std::string out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '\\') {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return out;
}

// A property that does not hold is a finding like a crash: abort() makes libFuzzer keep the
// input. `detail` (the bytes in question) is printed escaped, and only then.
inline void Check(bool holds, const char* property, std::string_view detail = {}) {
    if (holds) return;
    std::fprintf(stderr, "PROPERTY FAILED: %s\n", property);
    if (!detail.empty()) std::fprintf(stderr, "  %s\n", Escaped(detail).c_str());
    std::abort();
}

// A fresh folder, on tmpfs when the machine has one: the stores fsync every write, and on a
// disk that would make each input cost milliseconds. Removed with everything in it at the end.
class ScratchDir {
public:
    explicit ScratchDir(const char* name) {
        // fuzz/run-fuzzers names a folder of its own, which it removes even after a crash.
        std::filesystem::path parent = "/dev/shm";
        if (const char* given = std::getenv("VEXA_FUZZ_SCRATCH"); given != nullptr && *given != '\0') {
            parent = given;
        } else if (::access(parent.c_str(), W_OK) != 0) {
            parent = std::filesystem::temp_directory_path();
        }
        std::string pattern = (parent / (std::string("vexa-fuzz-") + name + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        }
        path_ = pattern;
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
};

// The first `count` NUL-terminated fields of `data` and, last, everything after them. A field
// the input is too short to have is missing from the result, so a caller can fill in a default.
inline std::vector<std::string> SplitFields(const std::uint8_t* data, std::size_t size, std::size_t count) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields;
    while (fields.size() < count) {
        const std::size_t nul = rest.find('\0');
        if (nul == std::string_view::npos) break;
        fields.emplace_back(rest.substr(0, nul));
        rest.remove_prefix(nul + 1);
    }
    if (fields.size() < count) {
        // Too few separators: the whole input is the last field, the names are defaults.
        return {std::string(reinterpret_cast<const char*>(data), size)};
    }
    fields.emplace_back(rest);
    return fields;
}

}  // namespace vexa::fuzz
