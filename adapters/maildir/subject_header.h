// Rewrites the Subject: field of a raw message while leaving every other byte as it was, so a
// message the add-in tagged during the send goes out otherwise exactly as it came in.
// Called by MaildirMailItem::RawMessageWithSubject.
#pragma once

#include <string>
#include <string_view>

namespace vexa::maildir {

// `message` with its first Subject: field (with all its continuation lines) replaced by `field`,
// or with `field` added as the last field of the header block when there is none. `field` is
// the whole field ("Subject: ..."), its folds separated by "\n" and without a final line end;
// it is written with the line ends the message itself uses.
std::string ReplaceSubjectField(std::string_view message, std::string_view field);

}  // namespace vexa::maildir
