// Where a running `vexa view` says it can be reached, so that the indicator command (`vexa open`)
// brings the user to the viewer already running for the installation instead of starting a
// second one. A small file private to the user, in $XDG_RUNTIME_DIR (else the state folder):
// the viewer's first address (it holds the secret) and its process id.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <sys/types.h>

namespace vexa::viewer {

struct ViewerRecord {
    std::string address;  // http://127.0.0.1:PORT/?token=SECRET
    pid_t pid = 0;
};

// The record's file for the viewer of the archive at `archive`.
std::filesystem::path ViewerRecordFile(const std::filesystem::path& archive);
// Written atomically, readable by its owner only. Throws HostError.
void WriteViewerRecord(const std::filesystem::path& file, const ViewerRecord& record);
std::optional<ViewerRecord> ReadViewerRecord(const std::filesystem::path& file);
// True when a viewer answers at `address` with the secret in it (within a second).
bool ViewerAnswers(const std::string& address);

}  // namespace vexa::viewer
