// Reading the next Inbox messages while the current one is archived: a scan knows the order in
// which it will raise the arrivals, so a second thread reads and parses the next few messages
// (the bulk of the work that is not the archive's) while the first thread stores the current one.
// The arrivals are still raised one at a time, in order, on the first thread; a message is handed
// over whole, and only the first thread touches it afterwards. A few messages, and a few
// megabytes of them, at most are read ahead, so memory stays flat however long the list and
// however large its messages.
#pragma once

#include <sys/stat.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vexa::maildir {

class MimeMessage;
struct StagedContent;

class ReadAhead {
public:
    // A message as the reading thread found it.
    struct Read {
        std::filesystem::path file;               // where it was found; empty when it was not
        struct stat info {};                      // its status when it was read
        std::shared_ptr<MimeMessage> message;     // null when the file is no mail or unreadable
        std::shared_ptr<StagedContent> staged;    // its first attachment decoded, when staged
    };

    // Starts reading the files `names` (bare names of messages in `inbox`'s new/ or cur/) in
    // order. With a `stagingFolder`, each message's first attachment is decoded there too.
    ReadAhead(std::filesystem::path inbox, std::shared_ptr<const std::vector<std::filesystem::path>> names,
              std::optional<std::filesystem::path> stagingFolder, std::size_t depth = 8);
    // Stops the thread; what it read and nobody took is dropped.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // What was read for `name`, when `name` is the next of the list (the ones before it are
    // skipped); nothing when it is not in the rest of the list.
    std::optional<Read> Take(const std::filesystem::path& name);
    // Hands a message the first thread is done with to the reading thread to be freed while it
    // waits for room ahead: freeing a parsed message's parts was a good part of the first
    // thread's work for each fax. When a few wait to be freed already, it is freed here.
    void Retire(std::shared_ptr<MimeMessage> message) noexcept;

private:
    void Run(std::stop_token stop);

    const std::filesystem::path inbox_;
    const std::optional<std::filesystem::path> stagingFolder_;
    // Shared with the command that raises them: a large Inbox's list is not held twice.
    const std::shared_ptr<const std::vector<std::filesystem::path>> names_;
    const std::size_t depth_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<Read> ready_;   // names_[taken_ ...] as far as read
    std::size_t bytesReady_ = 0;  // the sizes of the messages in ready_
    std::size_t taken_ = 0;    // names handed out or skipped
    std::vector<std::shared_ptr<MimeMessage>> retired_;  // to be freed by the reading thread
    std::jthread thread_;      // last: started once everything it uses is in place
};

}  // namespace vexa::maildir
