#include "linux/first_line.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace vexa::linuxhost {

std::optional<FirstLine> ReadFirstLine(int fd, std::chrono::milliseconds timeout) {
    constexpr std::size_t kMost = 64 * 1024;
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::size_t end = output.find('\n');
        if (end != std::string::npos) {
            output.resize(end);
            if (!output.empty() && output.back() == '\r') output.pop_back();
            return FirstLine{std::move(output), true};
        }
        if (output.size() > kMost) return FirstLine{std::move(output), false};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return FirstLine{std::move(output), false};
        output.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace vexa::linuxhost
