// An attachment decoded ahead of its save, on the thread that reads the next messages of a scan:
// into a file without a name (O_TMPFILE) on the file system where the archive will keep it. The
// save is then only the naming of that file, and the decoding and writing are done on the second
// core. When anything stands in the way (no O_TMPFILE, another file system, a damaged
// attachment), the save decodes the attachment itself as it always does.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>

#include <gmime/gmime.h>

#include "adapters/maildir/gobject_ref.h"

namespace vexa::maildir {

class MimeMessage;

struct StagedContent {
    GMimePart* part = nullptr;  // the part of the message whose content it is
    UniqueFd fd;                // the nameless file
};

// The first attachment of `message` decoded into a nameless file in `folder`; null when it has
// none, is larger than `largest` bytes as stored, or cannot be staged.
std::shared_ptr<StagedContent> StageFirstAttachment(const MimeMessage& message, const std::filesystem::path& folder,
                                                    std::size_t largest);

// Gives the staged file the name `path` (never replacing a file); false when it cannot, and the
// caller saves the attachment as usual. A staged file is named once.
bool NameStagedContent(StagedContent& staged, const std::filesystem::path& path);

}  // namespace vexa::maildir
