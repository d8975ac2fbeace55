#include "linux/imap_message_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "host/host_error.h"
#include "linux/imap_archiving.h"

namespace vexa::linuxhost {

ImapMessageCopy::ImapMessageCopy(ImapServer& server, const ImapAccount& account, std::uint32_t uid)
    : server_(server), uid_(uid) {
    keywords_ = server_.SelectInbox().keywords;
    file_ = PrepareMirror(account) / "tmp" / ("convert." + std::to_string(::getpid()) + "." + std::to_string(uid));
    const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw HostError(errno, "Can't write " + file_.string());
    try {
        server_.FetchToFile(uid, fd);
    } catch (const HostError& e) {
        ::close(fd);
        ::unlink(file_.c_str());
        throw HostError(e.Number(), "Can't fetch the message with UID " + std::to_string(uid) + " from the Inbox of " +
                                        account.url + ": " + e.Description());
    } catch (...) {
        ::close(fd);
        ::unlink(file_.c_str());
        throw;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(file_.c_str());
        throw HostError(error, "Can't write " + file_.string());
    }
}

ImapMessageCopy::~ImapMessageCopy() { ::unlink(file_.c_str()); }

void ImapMessageCopy::MarkArchived() {
    if (keywords_) server_.AddFlags({uid_}, {kArchivedKeyword});
}

}  // namespace vexa::linuxhost
