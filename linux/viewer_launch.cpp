#include "linux/viewer_launch.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "linux/first_line.h"
#include "viewer/viewer_record.h"

extern char** environ;

namespace vexa::linuxhost {
namespace {

// How long a starting viewer may take to print its address.
constexpr auto kStartTimeout = std::chrono::seconds(10);

class Pipe {
public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool Ok() const { return fds_[0] >= 0; }
    int Read() const { return fds_[0]; }
    int Write() const { return fds_[1]; }
    void CloseRead() { Close(fds_[0]); }
    void CloseWrite() { Close(fds_[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
};

// Starts `vexa view --no-open` in a session of its own; its first line of output, or nothing.
std::optional<std::string> StartViewer() {
    Pipe pipe;
    if (!pipe.Ok()) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe.Write(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const char* self = "/proc/self/exe";
    std::vector<char*> argv{const_cast<char*>("vexa"), const_cast<char*>("view"), const_cast<char*>("--no-open"), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, self, &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    pipe.CloseWrite();
    if (spawned != 0) return std::nullopt;

    const std::optional<FirstLine> line = ReadFirstLine(pipe.Read(), kStartTimeout);
    // Nothing in time, or it ended without an address.
    if (!line || !line->complete || !line->text.starts_with("http://")) return std::nullopt;
    return line->text;
}

}  // namespace

std::optional<std::string> RunningViewer(const std::filesystem::path& archive) {
    if (const auto record = viewer::ReadViewerRecord(viewer::ViewerRecordFile(archive))) {
        if (viewer::ViewerAnswers(record->address)) return record->address;
    }
    return StartViewer();
}

}  // namespace vexa::linuxhost
