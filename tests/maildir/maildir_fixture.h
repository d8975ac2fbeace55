// A fresh Maildir per test, removed with everything in it when the test ends, with helpers that
// drop raw messages into new/ or cur/ and read back what landed on disk. Every Maildir host
// test builds its store with it.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "adapters/maildir/maildir_session.h"
#include "host/date_time.h"

namespace vexa::test {

namespace fs = std::filesystem;

// AddressSanitizer's shadow memory and quarantine make the peak resident set of no use as a
// measure of what the code holds; the tests that bound it skip that check there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void SetModified(const fs::path& path, std::time_t time) {
    const timespec times[2] = {{time, 0}, {time, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::system_error(errno, std::generic_category(), "utimensat");
    }
}

// The names in a folder, sorted, so a test can compare a whole directory at once.
inline std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline LocalDateTime LocalOf(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

inline std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

class TempMaildir {
public:
    TempMaildir() {
        std::string pattern = (fs::temp_directory_path() / "vexa-maildir-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::system_error(errno, std::generic_category(), "mkdtemp");
        base_ = pattern;
        root_ = base_ / "Maildir";
        for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(root_ / sub);
    }
    TempMaildir(const TempMaildir&) = delete;
    TempMaildir& operator=(const TempMaildir&) = delete;
    ~TempMaildir() {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }

    // The Maildir (the Inbox).
    const fs::path& Root() const noexcept { return root_; }
    // A scratch folder beside the Maildir, for saved attachments and files from elsewhere.
    fs::path Outside() const {
        fs::create_directories(base_ / "outside");
        return base_ / "outside";
    }

    // Writes `bytes` as `name` into `place` ("new" or "cur", or ".Folder/cur" and the like).
    fs::path Put(const std::string& place, const std::string& name, std::string_view bytes) const {
        const fs::path file = root_ / place / name;
        WriteBytes(file, bytes);
        return file;
    }

    const std::shared_ptr<maildir::MaildirSession>& Session() {
        if (!session_) session_ = maildir::MaildirSession::Open(root_);
        return session_;
    }

    std::shared_ptr<maildir::MaildirMailItem> Load(const fs::path& file) {
        return std::dynamic_pointer_cast<maildir::MaildirMailItem>(Session()->LoadItem(file));
    }

private:
    fs::path base_;
    fs::path root_;
    std::shared_ptr<maildir::MaildirSession> session_;
};

// Records every ItemAdd of one items collection.
class ItemAddRecorder final : public ItemsEvents {
public:
    void ItemAdd(const ItemPtr& item) override { added.push_back(item); }
    std::vector<ItemPtr> added;
};

}  // namespace vexa::test
