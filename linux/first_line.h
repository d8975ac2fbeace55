// The first line a child program writes on a pipe, read with a time limit: the line a password
// command prints, the address a starting viewer prints. Nothing beyond it is kept.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace vexa::linuxhost {

struct FirstLine {
    std::string text;       // without its line end
    bool complete = false;  // ended by a line end (else the output ended first)
};

// Reads the pipe `fd` until its first line end, the end of the output, or `timeout`; nothing
// when the time ran out first. At most 64 KiB are read.
std::optional<FirstLine> ReadFirstLine(int fd, std::chrono::milliseconds timeout);

}  // namespace vexa::linuxhost
