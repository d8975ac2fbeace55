#include "adapters/maildir/read_ahead.h"

#include <algorithm>
#include <utility>

#include "adapters/maildir/mime_message.h"
#include "adapters/maildir/staged_content.h"
#include "host/host_error.h"

namespace vexa::maildir {
namespace fs = std::filesystem;

namespace {

// Attachments up to this size (as stored in the message) are decoded ahead; a larger one waits
// for its save, so that the reading thread never decodes much for a message that is no fax.
constexpr std::size_t kLargestStaged = 32u << 20;
// A message is held in memory while it waits (a large one only in part, as it is streamed from
// its file); the next one is read only while those waiting take less than this.
constexpr std::size_t kBytesAhead = 4u << 20;
// Messages handed over to be freed wait only while the reading thread has nothing to read. When
// it is the busier thread, this few are soon waiting, and the first thread frees the next ones
// itself: each thread then does what the other has no time for, and the waiting ones stay few.
constexpr std::size_t kMostRetired = 2;

std::size_t SizeOf(const ReadAhead::Read& read) { return static_cast<std::size_t>(std::max<off_t>(read.info.st_size, 0)); }

}  // namespace

ReadAhead::ReadAhead(fs::path inbox, std::shared_ptr<const std::vector<fs::path>> names, std::optional<fs::path> stagingFolder,
                     std::size_t depth)
    : inbox_(std::move(inbox)),
      stagingFolder_(std::move(stagingFolder)),
      names_(std::move(names)),
      depth_(std::max<std::size_t>(depth, 1)) {
    EnsureGMime();
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

ReadAhead::~ReadAhead() {
    thread_.request_stop();
    changed_.notify_all();
}

void ReadAhead::Run(std::stop_token stop) {
    const auto& names = *names_;
    for (std::size_t next = 0; next < names.size(); ++next) {
        {
            std::unique_lock lock(mutex_);
            // Never more than depth_ messages ahead of the one being archived.
            const auto room = [&] { return next < taken_ + depth_ && (ready_.empty() || bytesReady_ < kBytesAhead); };
            for (;;) {
                if (!changed_.wait(lock, stop, [&] { return room() || !retired_.empty(); })) return;
                if (room()) break;
                // Nothing to read yet: the wait goes to freeing, outside the lock.
                auto retired = std::exchange(retired_, {});
                lock.unlock();
                retired.clear();
                lock.lock();
            }
            if (next < taken_) continue;  // skipped meanwhile
        }
        Read read;
        const fs::path& name = names[next];
        // Where TakeArrival looks first: a name with an info part in cur/, one without in new/.
        const bool hasInfo = name.native().find(':') != std::string::npos;
        for (const char* place : {hasInfo ? "cur" : "new", hasInfo ? "new" : "cur"}) {
            fs::path candidate = inbox_ / place / name;
            if (::stat(candidate.c_str(), &read.info) == 0) {
                read.file = std::move(candidate);
                break;
            }
        }
        if (!read.file.empty() && S_ISREG(read.info.st_mode)) {
            try {
                read.message = MimeMessage::Parse(MimeMessage::OpenFile(read.file));
                if (read.message && stagingFolder_) {
                    read.staged = StageFirstAttachment(*read.message, *stagingFolder_, kLargestStaged);
                }
            } catch (const HostError&) {
                // Unreadable: the first thread reads it again and takes it for what it finds.
                read.file.clear();
            } catch (...) {
                read.file.clear();
            }
        }
        std::lock_guard lock(mutex_);
        if (next >= taken_) {
            bytesReady_ += SizeOf(read);
            ready_.push_back(std::move(read));
        }
        changed_.notify_all();
    }
}

void ReadAhead::Retire(std::shared_ptr<MimeMessage> message) noexcept {
    try {
        std::lock_guard lock(mutex_);
        if (retired_.size() >= kMostRetired) return;  // freed here instead
        retired_.push_back(std::move(message));
    } catch (...) {
        return;  // freed here instead
    }
    changed_.notify_all();
}

std::optional<ReadAhead::Read> ReadAhead::Take(const fs::path& name) {
    std::unique_lock lock(mutex_);
    const auto& names = *names_;
    const auto rest = std::find(names.begin() + static_cast<std::ptrdiff_t>(taken_), names.end(), name);
    if (rest == names.end()) return std::nullopt;
    const auto index = static_cast<std::size_t>(rest - names.begin());
    // The ones before it are not wanted any more.
    const auto drop = [&] {
        bytesReady_ -= SizeOf(ready_.front());
        ready_.pop_front();
    };
    while (taken_ < index) {
        if (!ready_.empty()) drop();
        ++taken_;
    }
    changed_.notify_all();
    changed_.wait(lock, [&] { return !ready_.empty(); });
    Read read = std::move(ready_.front());
    drop();
    ++taken_;
    changed_.notify_all();
    return read;
}

}  // namespace vexa::maildir
