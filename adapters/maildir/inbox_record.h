// The Maildir host's record of the Inbox messages whose arrival it has raised: the file
// "vexa-handled" in the Maildir root, one message's unique name part (the file name before ":")
// a line. The host raises an arrival once per message, as the host it stands in for does, and a
// Maildir has no flag of its own for "the add-in has seen this": a message left in the Inbox
// keeps its name while mail readers and Dovecot move it from new/ to cur/ and change its flags.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>

namespace vexa::maildir {

class InboxRecord {
public:
    explicit InboxRecord(std::filesystem::path file) : file_(std::move(file)) {}

    // Reads the record, keeping only the names still in the Inbox: the file is rewritten without
    // the others (atomically), so it never grows past the Inbox. `present` is one listing of the
    // unique parts in the Inbox; a name missing from it is dropped only when it is missing from a
    // second listing, `relist`, too: a mail reader renaming a message (changing its flags) while
    // the Inbox is listed can hide it from that listing, and a name dropped wrongly makes a fax
    // kept in the Inbox arrive again. A missing file is an empty record. Throws HostError when the
    // file cannot be read or written.
    void Load(const std::set<std::string>& present, const std::function<std::set<std::string>()>& relist);
    bool Contains(const std::string& unique) const { return names_.contains(unique); }
    // Adds `unique` and flushes it to disk before returning. Throws HostError when it cannot; the
    // name stays recorded for this run even then (and is written with the next name), so a later
    // rename of the message does not make it arrive again.
    void Add(const std::string& unique);
    // Adds `unique` for Contains at once and to the file with the next WriteHeld (or Add): the
    // arrivals of a group are recorded with one flush.
    void Hold(const std::string& unique);
    // Writes the names held since the last write, with one flush. Throws HostError as Add does.
    void WriteHeld();
    // Takes `unique` back out: its arrival is to be raised again (its store could not reach the
    // archive). Throws HostError when a written record cannot be rewritten.
    void Forget(const std::string& unique);
    std::size_t Size() const noexcept { return names_.size(); }

private:
    // The record file open for appending, closed with its owner.
    class Fd {
    public:
        Fd() noexcept = default;
        explicit Fd(int fd) noexcept : fd_(fd) {}
        Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
        Fd& operator=(Fd&& other) noexcept {
            std::swap(fd_, other.fd_);
            return *this;
        }
        ~Fd();
        int Get() const noexcept { return fd_; }
        explicit operator bool() const noexcept { return fd_ >= 0; }

    private:
        int fd_ = -1;
    };

    void Append(const std::string& line);
    void Rewrite();

    std::filesystem::path file_;
    std::set<std::string> names_;
    Fd append_;
    bool rewrite_ = false;
    std::string held_;  // lines not yet written
};

// The unique part of a Maildir message file name: everything before the ":2," info.
std::string UniqueNamePart(const std::string& fileName);

}  // namespace vexa::maildir
