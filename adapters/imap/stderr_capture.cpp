#include "adapters/imap/stderr_capture.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <sstream>

namespace vexa::imap {

namespace {

void WriteOut(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace

StderrCapture::StderrCapture() {
    // A file rather than a pipe: nothing written, however much, can block the writer.
    captured_ = ::memfd_create("vexa-stderr", MFD_CLOEXEC);
    if (captured_ < 0) return;  // nothing captured: the lines are shown as they were
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    std::fflush(stderr);
    if (saved_ < 0 || ::dup2(captured_, STDERR_FILENO) < 0) {
        if (saved_ >= 0) ::close(saved_);
        saved_ = -1;
    }
}

StderrCapture::~StderrCapture() { Take({}); }

void StderrCapture::Restore() noexcept {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
}

std::string StderrCapture::Take(std::string_view prefix) {
    const bool capturing = saved_ >= 0;
    Restore();
    std::string text;
    if (capturing && ::lseek(captured_, 0, SEEK_SET) == 0) {
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(captured_, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
        }
    }
    if (captured_ >= 0) ::close(captured_);
    captured_ = -1;

    std::string taken, shown;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!prefix.empty() && line.starts_with(prefix))
            taken = line.substr(prefix.size());
        else
            shown += line + "\n";
    }
    WriteOut(STDERR_FILENO, shown);
    return taken;
}

}  // namespace vexa::imap
