#include "viewer/viewer_record.h"

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <sstream>

#include <httplib.h>

#include "adapters/posix/atomic_file.h"
#include "adapters/posix/private_folder.h"
#include "adapters/posix/xdg.h"

namespace vexa::viewer {
namespace fs = std::filesystem;

fs::path ViewerRecordFile(const fs::path& archive) {
    fs::path folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        folder = fs::path(runtime) / "vexa";
    } else {
        folder = posix::XdgDataHome().parent_path() / "state" / "vexa";
    }
    std::error_code ec;
    const fs::path absolute = fs::weakly_canonical(archive, ec);
    const std::size_t hash = std::hash<std::string>{}(ec ? archive.string() : absolute.string());
    std::ostringstream name;
    name << "viewer-" << std::hex << hash << ".url";
    return folder / name.str();
}

void WriteViewerRecord(const fs::path& file, const ViewerRecord& record) {
    std::error_code ec;
    posix::MakePrivateFolders(file.parent_path());
    fs::permissions(file.parent_path(), fs::perms::owner_all, ec);
    posix::WriteFileAtomically(file, record.address + "\n" + std::to_string(record.pid) + "\n",
                               posix::FileAccess::Private);
}

std::optional<ViewerRecord> ReadViewerRecord(const fs::path& file) {
    const auto bytes = posix::ReadFileIfPresent(file);
    if (!bytes) return std::nullopt;
    std::istringstream in(*bytes);
    ViewerRecord record;
    std::string pid;
    if (!std::getline(in, record.address) || !std::getline(in, pid) || !record.address.starts_with("http://")) {
        return std::nullopt;
    }
    try {
        record.pid = static_cast<pid_t>(std::stol(pid));
    } catch (...) {
        return std::nullopt;
    }
    return record;
}

bool ViewerAnswers(const std::string& address) {
    // http://HOST:PORT/?token=SECRET
    const std::size_t slash = address.find('/', 7);
    const std::size_t token = address.find("?token=");
    if (slash == std::string::npos || token == std::string::npos) return false;
    httplib::Client client(address.substr(0, slash));
    client.set_connection_timeout(1, 0);
    client.set_read_timeout(1, 0);
    const auto response = client.Get("/api/version" + address.substr(token));
    return response && response->status == 200;
}

}  // namespace vexa::viewer
