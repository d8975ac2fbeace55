// vexa view: the archive of the installation as a web page on this machine, until SIGINT or
// SIGTERM. Prints the page's first address (it carries the secret every request needs) as one
// line, records it for `vexa open`, and opens it in the browser unless --no-open.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <unistd.h>

#include "adapters/posix/private_folder.h"
#include "adapters/posix/xdg_open_shell.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/command_runtime.h"
#include "apps/vexa/listen_address.h"
#include "apps/vexa/option_parser.h"
#include "archive/archive_names.h"
#include "host/host_error.h"
#include "linux/installation_archive.h"
#include "viewer/viewer_record.h"
#include "viewer/viewer_server.h"

namespace vexa::cli {

using linuxhost::OpenArchiveQueries;
using linuxhost::ServerArchiveOf;
namespace {

// The stored files of a server archive, copied on first use into a private folder that goes
// with the viewer: the pages are drawn from a file, and a file is served by streaming it.
class ServerFileCache {
public:
    explicit ServerFileCache(const std::filesystem::path& home) : files_(OpenArchiveQueries(home)), folder_("vexa-view.") {}

    std::optional<std::filesystem::path> Get(const std::string& fileId) {
        std::lock_guard lock(mutex_);
        if (folder_.Exists(fileId)) return folder_.Path() / fileId;
        const std::string partial = fileId + ".partial";
        folder_.Remove(partial);
        bool written = true;
        {
            const int fd = folder_.CreateFile(partial);
            const bool found = files_->ReadStoredFile(fileId, [&](std::string_view piece) {
                while (written && !piece.empty()) {
                    const ssize_t n = ::write(fd, piece.data(), piece.size());
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0) written = false;
                    else piece.remove_prefix(static_cast<std::size_t>(n));
                }
            });
            written = ::close(fd) == 0 && written && found;
        }
        if (!written) {
            folder_.Remove(partial);
            return std::nullopt;
        }
        folder_.Rename(partial, fileId);
        return folder_.Path() / fileId;
    }

private:
    std::unique_ptr<ArchiveQueries> files_;  // a connection of its own, beside the lists'
    posix::PrivateFolder folder_;
    std::mutex mutex_;
};

}  // namespace

int RunView(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {{"listen", true}, {"no-open", false}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    viewer::ViewerSettings settings;
    if (const auto listen = options.Value("listen")) std::tie(settings.host, settings.port) = ParseListenAddress(*listen, "--listen", "127.0.0.1:8080", true);

    // Before any thread starts, so that only the wait below takes these signals.
    sigset_t stop;
    sigemptyset(&stop);
    for (const int signal : {SIGINT, SIGTERM}) sigaddset(&stop, signal);
    ::pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    CommandRuntime runtime({std::nullopt, std::nullopt, true});
    if (!runtime.Connect()) return kExitConfig;
    const std::filesystem::path home(runtime.Addin().AppPath());
    runtime.Shutdown();
    const std::filesystem::path archive = home / kArchiveFileName;
    settings.attachFolder = home / kAttachFolder;
    settings.token = viewer::NewToken();

    const auto queries = OpenArchiveQueries(home);
    std::unique_ptr<ServerFileCache> files;
    if (ServerArchiveOf(home)) {
        files = std::make_unique<ServerFileCache>(home);
        settings.storedFile = [&files](const std::string& fileId) { return files->Get(fileId); };
    }
    viewer::ViewerServer server(*queries, settings);
    server.Bind();
    const std::string address = server.FirstAddress();
    std::printf("%s\n", address.c_str());
    std::fflush(stdout);
    const std::filesystem::path record = viewer::ViewerRecordFile(archive);
    try {
        viewer::WriteViewerRecord(record, {address, ::getpid()});
    } catch (const HostError& e) {
        std::fprintf(stderr, "vexa view: %s (vexa open will start another viewer)\n", e.Description().c_str());
    }

    std::thread serving([&server] { server.Run(); });
    if (!options.Has("no-open") && posix::XdgOpenShell().OpenSecretAddress(address, record.parent_path()) <= kShellNoAssociation) {
        std::fprintf(stderr, "vexa view: no browser could be started; open the address above.\n");
    }
    int signal = 0;
    ::sigwait(&stop, &signal);
    server.Stop();
    serving.join();
    if (const auto written = viewer::ReadViewerRecord(record); written && written->pid == ::getpid()) {
        std::error_code ec;
        std::filesystem::remove(record, ec);
    }
    return kExitOk;
}

}  // namespace vexa::cli
