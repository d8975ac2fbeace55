#include "adapters/maildir/staged_content.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "adapters/maildir/mime_message.h"

namespace vexa::maildir {

std::shared_ptr<StagedContent> StageFirstAttachment(const MimeMessage& message, const std::filesystem::path& folder,
                                                    std::size_t largest) {
    if (!message.Unreadable().empty()) return nullptr;
    const auto parts = message.AttachmentParts();
    if (parts.empty()) return nullptr;
    GMimePart* part = parts.front();
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (content == nullptr) return nullptr;
    const GMimeStream* stream = g_mime_data_wrapper_get_stream(content);
    if (stream->bound_end < 0 || static_cast<std::size_t>(stream->bound_end - stream->bound_start) > largest) return nullptr;
    auto staged = std::make_shared<StagedContent>();
    staged->part = part;
    staged->fd = UniqueFd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!staged->fd) return nullptr;
    try {
        if (message.WriteContent(part, staged->fd.Get(), "") != 0) return nullptr;
    } catch (...) {
        // Damaged: the save finds that out again and says so.
        return nullptr;
    }
    return staged;
}

bool NameStagedContent(StagedContent& staged, const std::filesystem::path& path) {
    if (!staged.fd) return false;
    // Linking a nameless file by its descriptor needs either /proc or a capability most users
    // lack; linkat never replaces an existing name.
    const std::string self = "/proc/self/fd/" + std::to_string(staged.fd.Get());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
        ::linkat(staged.fd.Get(), "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) != 0) {
        return false;
    }
    staged.fd.Close();
    return true;
}

}  // namespace vexa::maildir
