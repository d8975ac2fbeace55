// What kind of file an archived attachment is, told from its first bytes rather than its name
// (a stranger names the attachment): the viewer picks how to show it and the content type it is
// served under from this.
#pragma once

#include <string_view>

namespace vexa::viewer {

// True when the bytes start like a TIFF file, either byte order ("II*\0" or "MM\0*").
bool LooksLikeTiff(std::string_view firstBytes);

// "tiff", "pdf", "audio" (WAVE, MP3 with an ID3 tag or starting at an MPEG frame) or "other".
// A few dozen bytes are enough.
std::string_view StoredFileKind(std::string_view firstBytes);

}  // namespace vexa::viewer
