#include "adapters/maildir/arrival_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "adapters/maildir/gobject_ref.h"
#include "adapters/maildir/maildir_files.h"
#include "adapters/posix/atomic_file.h"

namespace vexa::maildir {
namespace {

// Fields are separated by tabs and entries by line breaks; both (and the backslash) are escaped
// in a field, since message names come from whoever delivered the mail.
void AppendField(std::string& line, const std::string& field) {
    for (const char c : field) {
        switch (c) {
            case '\\': line += "\\\\"; break;
            case '\t': line += "\\t"; break;
            case '\n': line += "\\n"; break;
            default: line += c;
        }
    }
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string Lines(const std::vector<JournalEntry>& entries) {
    std::string text;
    for (const JournalEntry& entry : entries) {
        AppendField(text, entry.fileId);
        text += '\t';
        AppendField(text, entry.unique);
        text += '\t';
        AppendField(text, entry.target);
        text += '\n';
    }
    return text;
}

void WriteAll(int fd, const std::string& bytes, const std::filesystem::path& file) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw ErrnoError("Can't write " + file.string(), errno);
        }
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace

std::vector<JournalEntry> ArrivalJournal::Read() const {
    const std::string bytes = posix::ReadFileIfPresent(file_).value_or("");
    std::vector<JournalEntry> entries;
    std::size_t start = 0;
    // A last line without its line break was cut by a crash while its group was written, before
    // that group's commit: it is no entry.
    for (std::size_t end = bytes.find('\n'); end != std::string::npos; end = bytes.find('\n', start)) {
        const auto fields = SplitFields(bytes.substr(start, end - start));
        start = end + 1;
        if (fields.size() != 3 || fields[0].empty() || fields[1].empty()) continue;
        entries.push_back({fields[0], fields[1], fields[2]});
    }
    return entries;
}

void ArrivalJournal::Append(const std::vector<JournalEntry>& entries) {
    if (entries.empty()) return;
    struct stat before {};
    const bool existed = ::lstat(file_.c_str(), &before) == 0;
    const UniqueFd fd(::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) throw ErrnoError("Can't open " + file_.string(), errno);
    std::string bytes = Lines(entries);
    // A piece of a line left by a crash must not be glued to the first new entry.
    struct stat now {};
    if (::fstat(fd.Get(), &now) != 0) throw ErrnoError("Can't read " + file_.string(), errno);
    if (now.st_size > 0) {
        char last = '\n';
        if (::pread(fd.Get(), &last, 1, now.st_size - 1) == 1 && last != '\n') bytes.insert(bytes.begin(), '\n');
    }
    WriteAll(fd.Get(), bytes, file_);
    if (::fdatasync(fd.Get()) != 0) throw ErrnoError("Can't write " + file_.string() + " to disk", errno);
    if (!existed) {
        // A new journal's name must outlive a crash as surely as its entries.
        const UniqueFd folder(::open(file_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder || ::fsync(folder.Get()) != 0) throw ErrnoError("Can't write " + file_.string() + " to disk", errno);
    }
}

void ArrivalJournal::Rewrite(const std::vector<JournalEntry>& entries) {
    if (entries.empty()) {
        // Emptied in place, so the next group's entries need no sync of the folder. Entries that
        // outlive this (a crash before it reached the disk) are harmless: their messages have
        // left the Inbox or are recorded, and a replay finds nothing to do.
        const UniqueFd fd(::open(file_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) {
            if (errno == ENOENT) return;
            throw ErrnoError("Can't open " + file_.string(), errno);
        }
        if (::ftruncate(fd.Get(), 0) != 0) throw ErrnoError("Can't empty " + file_.string(), errno);
        return;
    }
    posix::WriteFileAtomically(file_, Lines(entries), posix::FileAccess::Private);
}

}  // namespace vexa::maildir
