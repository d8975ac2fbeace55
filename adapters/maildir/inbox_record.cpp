#include "adapters/maildir/inbox_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "adapters/maildir/gobject_ref.h"
#include "adapters/maildir/maildir_files.h"
#include "adapters/posix/atomic_file.h"

namespace vexa::maildir {
namespace {

// A name is one line: a backslash and a line break in it (a hostile delivery) are escaped.
std::string Escaped(const std::string& name) {
    std::string line;
    for (const char c : name) {
        if (c == '\\') {
            line += "\\\\";
        } else if (c == '\n') {
            line += "\\n";
        } else {
            line += c;
        }
    }
    return line + '\n';
}

std::string Unescaped(const std::string& line) {
    std::string name;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            ++i;
            name += line[i] == 'n' ? '\n' : line[i];
        } else {
            name += line[i];
        }
    }
    return name;
}

// 0, or the errno of making the directory's entries durable.
int SyncDirectory(const std::filesystem::path& folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return errno;
    return ::fsync(fd.Get()) == 0 ? 0 : errno;
}

}  // namespace

InboxRecord::Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

std::string UniqueNamePart(const std::string& fileName) { return fileName.substr(0, fileName.find(':')); }

void InboxRecord::Load(const std::set<std::string>& present, const std::function<std::set<std::string>()>& relist) {
    append_ = Fd();
    rewrite_ = false;
    held_.clear();
    names_.clear();
    const std::string bytes = posix::ReadFileIfPresent(file_).value_or("");
    std::vector<std::string> missing;
    std::size_t start = 0;
    for (std::size_t end = bytes.find('\n'); end != std::string::npos; end = bytes.find('\n', start)) {
        std::string name = Unescaped(bytes.substr(start, end - start));
        start = end + 1;
        if (present.contains(name)) {
            names_.insert(std::move(name));
        } else {
            missing.push_back(std::move(name));
        }
    }
    // A line without its line break was cut by a crash while it was added: that arrival was
    // not recorded, and the next line must not be glued to the piece.
    bool dropped = start < bytes.size();
    if (!missing.empty()) {
        const std::set<std::string> again = relist();
        for (auto& name : missing) {
            if (again.contains(name)) {
                names_.insert(std::move(name));
            } else {
                dropped = true;
            }
        }
    }
    if (dropped) Rewrite();
}

void InboxRecord::Add(const std::string& unique) {
    Hold(unique);
    WriteHeld();
}

void InboxRecord::Hold(const std::string& unique) {
    if (names_.insert(unique).second) held_ += Escaped(unique);
}

void InboxRecord::Forget(const std::string& unique) {
    if (names_.erase(unique) == 0) return;
    const std::string line = Escaped(unique);
    for (std::size_t at = 0; at < held_.size();) {
        const std::size_t end = held_.find('\n', at) + 1;
        if (held_.compare(at, end - at, line) == 0) {
            held_.erase(at, end - at);
            return;
        }
        at = end;
    }
    // Written already: the file is written anew without it.
    Rewrite();
}

void InboxRecord::WriteHeld() {
    if (held_.empty()) return;
    const std::string lines = std::exchange(held_, {});
    if (rewrite_) {
        // A failed append may have left a piece of a line that the next one would join.
        Rewrite();
        rewrite_ = false;
        return;
    }
    Append(lines);
}

void InboxRecord::Append(const std::string& line) {
    bool created = false;
    if (!append_) {
        created = ::access(file_.c_str(), F_OK) != 0;
        append_ = Fd(::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
        if (!append_) throw ErrnoError("Can't record the arrival in " + file_.string(), errno);
    }
    // One write of a few short lines under O_APPEND; the flush makes the record outlast a crash, so
    // the message is not handled a second time after a restart.
    const ssize_t written = ::write(append_.Get(), line.data(), line.size());
    int err = written < 0 ? errno : written != static_cast<ssize_t>(line.size()) ? ENOSPC : 0;
    if (err == 0 && ::fdatasync(append_.Get()) != 0) err = errno;
    // A file just made is only found after a crash once the directory's entry is on disk too.
    if (err == 0 && created) err = SyncDirectory(file_.parent_path());
    if (err != 0) {
        append_ = Fd();
        rewrite_ = true;
        throw ErrnoError("Can't record the arrival in " + file_.string(), err);
    }
}

void InboxRecord::Rewrite() {
    std::string bytes;
    for (const auto& name : names_) bytes += Escaped(name);
    posix::WriteFileAtomically(file_, bytes, posix::FileAccess::Private);
}

}  // namespace vexa::maildir
