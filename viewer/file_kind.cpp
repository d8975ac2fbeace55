#include "viewer/file_kind.h"

namespace vexa::viewer {

namespace {

bool IsWave(std::string_view bytes) {
    return bytes.size() >= 12 && bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "WAVE";
}

// An MP3 without a tag starts at a frame header: 11 set sync bits, then the version and layer.
// Taken are MPEG-1 Layer III (0xFB) and MPEG-2 Layer III without and with CRC (0xF3, 0xF2), what
// voice mail and recorders write; other bytes after 0xFF are too common in arbitrary data.
bool IsMpegFrame(std::string_view bytes) {
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF) return false;
    const auto second = static_cast<unsigned char>(bytes[1]);
    return second == 0xFB || second == 0xF3 || second == 0xF2;
}

}  // namespace

bool LooksLikeTiff(std::string_view firstBytes) {
    using namespace std::string_view_literals;
    const auto head = firstBytes.substr(0, 4);
    return head == "II*\0"sv || head == "MM\0*"sv;
}

std::string_view StoredFileKind(std::string_view firstBytes) {
    if (LooksLikeTiff(firstBytes)) return "tiff";
    if (firstBytes.starts_with("%PDF-")) return "pdf";
    if (IsWave(firstBytes) || firstBytes.starts_with("ID3") || IsMpegFrame(firstBytes)) return "audio";
    return "other";
}

}  // namespace vexa::viewer
