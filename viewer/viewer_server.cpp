#include "viewer/viewer_server.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>
#include <mutex>
#include <semaphore>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "archive/archive_names.h"
#include "host/host_error.h"
#include "viewer/file_kind.h"
#include "viewer/http_safety.h"
#include "viewer/list_output.h"
#include "viewer/tiff_pages.h"
#include "viewer/web_assets.h"

namespace vexa::viewer {
namespace {

using Json = nlohmann::json;

constexpr std::int64_t kDefaultPage = 50;
constexpr std::int64_t kLargestPage = 500;

// A sent fax still unconfirmed this long after it went out is one to look at again.
constexpr auto kLongUnconfirmed = std::chrono::hours(24);


std::optional<ArchiveTable> TableOf(const std::string& name) {
    if (name == "recv") return ArchiveTable::Recv;
    if (name == "send") return ArchiveTable::Send;
    return std::nullopt;
}

std::string LocalStamp(std::chrono::system_clock::time_point when) {
    const std::time_t time = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// Text from the archive is UTF-8 by the store's rules, but not every byte of a stranger's mail
// is: JSON gets U+FFFD for what is not.
Json Text(const std::string& text) {
    return Json(text);
}

Json RowJson(const ArchiveRow& row, ArchiveTable table, const std::string& attentionBefore) {
    Json json = {{"id", row.id},           {"date", Text(row.date)},       {"number", Text(row.number)},
                 {"subject", Text(row.subject)}, {"description", Text(row.description)},
                 {"fileName", Text(row.fileName)}, {"fileId", Text(row.fileId)}, {"who", Text(row.who)}};
    if (table == ArchiveTable::Recv) {
        json["new"] = row.isNew;
    } else {
        json["confirm"] = ConfirmStateName(row.confirm);
        json["attention"] = row.confirm == ConfirmState::Unsuccessful ||
                            (row.confirm == ConfirmState::Unconfirmed && row.date < attentionBefore);
    }
    return json;
}

std::optional<std::string> Day(const httplib::Request& request, const char* name) {
    if (!request.has_param(name)) return std::nullopt;
    const std::string value = request.get_param_value(name);
    if (value.empty()) return std::nullopt;
    if (!IsCalendarDay(value)) throw std::invalid_argument(std::string(name) + " is a day as YYYY-MM-DD");
    return value;
}

std::int64_t Number(const httplib::Request& request, const char* name, std::int64_t fallback) {
    if (!request.has_param(name)) return fallback;
    const std::string value = request.get_param_value(name);
    if (value.empty() || value.size() > 12 || value.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument(std::string(name) + " is a whole number");
    }
    return std::stoll(value);
}

ListQuery QueryOf(const httplib::Request& request, ArchiveTable table) {
    ListQuery query;
    query.table = table;
    query.onlyNew = table == ArchiveTable::Recv && request.get_param_value("new") == "1";
    if (table == ArchiveTable::Send && request.has_param("state")) {
        const std::string state = request.get_param_value("state");
        query.state = ConfirmStateNamed(state);
        if (!state.empty() && !query.state) throw std::invalid_argument("state is Unconfirmed, Successful or Unsuccessful");
    }
    query.search = request.get_param_value("search");
    query.since = Day(request, "since");
    query.until = Day(request, "until");
    if (request.has_param("sort")) {
        const auto sort = SortColumnNamed(request.get_param_value("sort"));
        if (!sort) throw std::invalid_argument("sort is date, number, subject, description, file, state or who");
        query.sort = *sort;
    }
    if (request.has_param("dir")) {
        const std::string dir = request.get_param_value("dir");
        if (dir != "asc" && dir != "desc") throw std::invalid_argument("dir is asc or desc");
        query.ascending = dir == "asc";
    }
    return query;
}

// The stored file of a row, in the Attach folder and nowhere else: the name must be one that
// the store makes for this very row, so no text of the archive or the request becomes a path.
std::optional<std::filesystem::path> StoredFile(const ViewerSettings& settings, const ArchiveRow& row, ArchiveTable table) {
    if (!IsOwnStoredFile(table, row)) return std::nullopt;
    if (settings.storedFile) return settings.storedFile(row.fileId);
    return settings.attachFolder / row.fileId;
}

// One of the few pages drawn at a time, held while it lasts.
class RenderTurn {
public:
    explicit RenderTurn(std::counting_semaphore<2>& turns) : turns_(turns) { turns_.acquire(); }
    ~RenderTurn() { turns_.release(); }
    RenderTurn(const RenderTurn&) = delete;
    RenderTurn& operator=(const RenderTurn&) = delete;

private:
    std::counting_semaphore<2>& turns_;
};

// A stored file open for reading, closed when it goes. Opened once and read through its
// descriptor: a link (even one planted in Attach) is never followed, and anything but a regular
// file is refused (a FIFO would hold a worker for ever).
class StoredFileHandle {
public:
    static std::optional<StoredFileHandle> Open(const std::filesystem::path& file) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) return std::nullopt;
        StoredFileHandle handle(fd);
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
        handle.size_ = static_cast<std::size_t>(info.st_size);
        return handle;
    }
    StoredFileHandle(StoredFileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}
    StoredFileHandle& operator=(StoredFileHandle&&) = delete;
    ~StoredFileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    int Fd() const noexcept { return fd_; }
    std::size_t Size() const noexcept { return size_; }
    // Handed over to whoever closes it.
    int Release() noexcept { return std::exchange(fd_, -1); }
    std::string FirstBytes() const {
        std::string bytes(16, '\0');
        const ssize_t n = ::pread(fd_, bytes.data(), bytes.size(), 0);
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return bytes;
    }

private:
    explicit StoredFileHandle(int fd) : fd_(fd) {}
    int fd_;
    std::size_t size_ = 0;
};

const char* ContentTypeOf(std::string_view kind, std::string_view firstBytes) {
    if (kind == "tiff") return "image/tiff";
    if (kind == "pdf") return "application/pdf";
    if (kind == "audio") return firstBytes.starts_with("RIFF") ? "audio/wav" : "audio/mpeg";
    return "application/octet-stream";
}

void SendJson(httplib::Response& response, const Json& json) {
    response.set_content(json.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
}

void Fail(httplib::Response& response, int status, const std::string& why) {
    response.status = status;
    response.set_content(why + "\n", "text/plain; charset=utf-8");
}

}  // namespace

class ViewerServer::Impl {
    static constexpr std::size_t kWorkers = 96;
    static constexpr time_t kReadTimeoutSeconds = 3;

public:
    Impl(ArchiveQueries& queries, ViewerSettings settings) : queries_(queries), settings_(std::move(settings)) {}

    int Bind() {
        Routes();
        // A worker serves one connection for as long as it lasts, and a client that sends its
        // request a byte at a time holds one: enough workers that a few dozen such connections
        // (any local user can open them, no secret needed) leave the page usable, and a short
        // wait for each read. httplib takes ownership of the queue it is handed.
        server_.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
        server_.set_read_timeout(kReadTimeoutSeconds, 0);
        server_.set_keep_alive_timeout(kReadTimeoutSeconds);
        const int port = settings_.port == 0 ? server_.bind_to_any_port(settings_.host)
                                             : (server_.bind_to_port(settings_.host, settings_.port) ? settings_.port : -1);
        if (port <= 0) {
            throw HostError(EADDRINUSE, "Can't listen on " + settings_.host + ":" + std::to_string(settings_.port) + ".");
        }
        port_ = port;
        return port;
    }
    void Run() { server_.listen_after_bind(); }
    void Stop() { server_.stop(); }
    std::string FirstAddress() const {
        const std::string host = settings_.host.find(':') != std::string::npos ? "[" + settings_.host + "]" : settings_.host;
        return "http://" + host + ":" + std::to_string(port_) + "/?token=" + settings_.token;
    }

private:
    void Routes();
    bool Allowed(const httplib::Request& request, httplib::Response& response);
    void Detail(const httplib::Request& request, httplib::Response& response);
    void File(const httplib::Request& request, httplib::Response& response);
    void Page(const httplib::Request& request, httplib::Response& response);
    std::optional<ArchiveRow> RowOf(ArchiveTable table, const std::string& id) {
        std::lock_guard lock(mutex_);
        return queries_.Row(table, std::stoll(id));
    }

    ArchiveQueries& queries_;
    ViewerSettings settings_;
    httplib::Server server_;
    std::mutex mutex_;  // one archive connection for all the server's threads
    int port_ = 0;
    std::counting_semaphore<2> renders_{2};  // pages drawn at once

    // Cookies are kept per host, not per port: a name of this port's own keeps two viewers (two
    // archives) in one browser from overwriting each other's secret.
    std::string CookieName() const { return std::string(kTokenCookie) + "_" + std::to_string(port_); }
};

bool ViewerServer::Impl::Allowed(const httplib::Request& request, httplib::Response& response) {
    if (!AddressedToUs(request.get_header_value("Host"), settings_.host, port_)) {
        Fail(response, 403, "Forbidden");
        return false;
    }
    const auto cookie = CookieValue(request.get_header_value("Cookie"), CookieName());
    const bool token = (cookie && SameSecret(*cookie, settings_.token)) ||
                       (request.has_param("token") && SameSecret(request.get_param_value("token"), settings_.token));
    if (!token) {
        Fail(response, 403, "Forbidden: open the address that `vexa view` printed.");
        return false;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        // A page of another site can make the browser post here; only our own page may.
        const std::string origin = request.get_header_value("Origin");
        if (origin.empty() || !origin.starts_with("http://") || !AddressedToUs(origin.substr(7), settings_.host, port_)) {
            Fail(response, 403, "Forbidden: not from the viewer's page.");
            return false;
        }
    }
    return true;
}

void ViewerServer::Impl::Routes() {
    server_.set_default_headers({
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; media-src 'self'; "
         "frame-src 'self'; object-src 'none'; connect-src 'self'; base-uri 'none'; form-action 'self'; "
         "frame-ancestors 'self'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    });
    server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        return Allowed(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                          : httplib::Server::HandlerResponse::Handled;
    });
    server_.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::invalid_argument& e) {
            Fail(response, 400, e.what());
        } catch (const HostError& e) {
            // The details (paths among them) go to the log of whoever started the viewer.
            std::fprintf(stderr, "vexa view: %s\n", e.Description().c_str());
            Fail(response, 500, "The archive could not be read; see the viewer's output.");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vexa view: %s\n", e.what());
            Fail(response, 500, "Internal error");
        } catch (...) {
            Fail(response, 500, "Internal error");
        }
    });

    server_.Get("/", [this](const httplib::Request& request, httplib::Response& response) {
        if (request.has_param("token")) {
            // The secret moves into a cookie the page's scripts cannot read, and out of the address.
            response.set_header("Set-Cookie", CookieName() + "=" + settings_.token +
                                                  "; HttpOnly; SameSite=Strict; Path=/");
            response.set_redirect("/", 303);
            return;
        }
        const WebAsset* page = FindWebAsset("/");
        if (page == nullptr) return Fail(response, 404, "Not found");
        response.set_content(std::string(page->body), std::string(page->contentType).c_str());
    });
    // Browsers ask for an icon on their own; there is none, and no error to log for it.
    server_.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
    server_.Get(R"(/(viewer\.css|viewer\.js))", [](const httplib::Request& request, httplib::Response& response) {
        const WebAsset* asset = FindWebAsset(request.path);
        if (asset == nullptr) return Fail(response, 404, "Not found");
        response.set_content(std::string(asset->body), std::string(asset->contentType).c_str());
    });

    server_.Get(R"(/api/(recv|send))", [this](const httplib::Request& request, httplib::Response& response) {
        const ArchiveTable table = *TableOf(request.matches[1]);
        ListQuery query = QueryOf(request, table);
        query.offset = Number(request, "offset", 0);
        query.limit = std::clamp<std::int64_t>(Number(request, "limit", kDefaultPage), 1, kLargestPage);
        const std::string attentionBefore = LocalStamp(std::chrono::system_clock::now() - kLongUnconfirmed);
        Json json;
        std::lock_guard lock(mutex_);
        const std::vector<ArchiveRow> rows = queries_.List(query);
        // A page that is not full ends the list: its rows are counted already, and a search
        // through the whole archive is not run a second time for the count.
        const bool last = static_cast<std::int64_t>(rows.size()) < *query.limit && (query.offset == 0 || !rows.empty());
        json["total"] = last ? query.offset + static_cast<std::int64_t>(rows.size()) : queries_.Count(query);
        if (table == ArchiveTable::Recv) {
            ListQuery fresh;
            fresh.onlyNew = true;
            json["newCount"] = queries_.Count(fresh);
        }
        json["shared"] = queries_.Shared();
        json["rows"] = Json::array();
        for (const ArchiveRow& row : rows) json["rows"].push_back(RowJson(row, table, attentionBefore));
        // The dates are this process's local times: the page names their zone, as a zone's
        // name when one is known (TZ naming a zone file, else /etc/localtime's target) and
        // else as the offset from UTC now.
        json["timeZone"] = [] {
            std::string name;
            if (const char* tz = std::getenv("TZ"); tz != nullptr) name = *tz == ':' ? tz + 1 : tz;
            const auto zoneFile = [](const std::string& zone) {
                std::error_code error;
                return !zone.empty() && zone.find("..") == std::string::npos && zone.front() != '/' &&
                       std::filesystem::is_regular_file("/usr/share/zoneinfo/" + zone, error);
            };
            if (zoneFile(name)) return name;
            if (name.empty()) {
                std::error_code error;
                const std::string target = std::filesystem::read_symlink("/etc/localtime", error).string();
                const std::size_t at = target.find("zoneinfo/");
                if (!error && at != std::string::npos && zoneFile(target.substr(at + 9))) return target.substr(at + 9);
            }
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            char offset[8] = "+0000";
            std::strftime(offset, sizeof offset, "%z", &local);
            const std::string z = offset;
            return "UTC" + z.substr(0, 3) + ":" + z.substr(3);
        }();
        SendJson(response, json);
    });
    server_.Get(R"(/api/(recv|send)/(\d{1,12}))",
                [this](const httplib::Request& request, httplib::Response& response) { Detail(request, response); });
    server_.Post(R"(/api/recv/(\d{1,12})/seen)", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(mutex_);
        queries_.ClearNew(std::stoll(request.matches[1]));
        SendJson(response, {{"ok", true}});
    });
    server_.Post(R"(/api/recv/(\d{1,12})/unseen)", [this](const httplib::Request& request, httplib::Response& response) {
        const std::int64_t id = std::stoll(request.matches[1]);
        std::lock_guard lock(mutex_);
        if (!queries_.Row(ArchiveTable::Recv, id)) return Fail(response, 404, "No such fax");
        queries_.MarkNew(id);
        SendJson(response, {{"new", true}});
    });
    // "Mark all as read" for the list the page shows: its filters, not only its page.
    server_.Post("/api/recv/seen-all", [this](const httplib::Request& request, httplib::Response& response) {
        const ListQuery query = QueryOf(request, ArchiveTable::Recv);
        std::lock_guard lock(mutex_);
        SendJson(response, {{"cleared", queries_.ClearNewAll(query)}});
    });
    server_.Get("/api/version", [this](const httplib::Request&, httplib::Response& response) {
        std::lock_guard lock(mutex_);
        SendJson(response, {{"version", queries_.Version()}});
    });
    server_.Get(R"(/file/(recv|send)/(\d{1,12}))",
                [this](const httplib::Request& request, httplib::Response& response) { File(request, response); });
    server_.Get(R"(/page/(recv|send)/(\d{1,12})/(\d{1,5})\.png)",
                [this](const httplib::Request& request, httplib::Response& response) { Page(request, response); });
    server_.Get(R"(/export/(recv|send)\.csv)", [this](const httplib::Request& request, httplib::Response& response) {
        const ArchiveTable table = *TableOf(request.matches[1]);
        const ListQuery query = QueryOf(request, table);
        std::vector<ArchiveRow> rows;
        {
            std::lock_guard lock(mutex_);
            rows = queries_.List(query);
        }
        response.set_header("Content-Disposition", ContentDisposition(true, std::string(ArchiveTableName(table)) + ".csv"));
        response.set_content(FormatRows(rows, table, ListFormat::Csv), "text/csv; charset=utf-8");
    });
}

void ViewerServer::Impl::Detail(const httplib::Request& request, httplib::Response& response) {
    const ArchiveTable table = *TableOf(request.matches[1]);
    const auto row = RowOf(table, request.matches[2]);
    if (!row) return Fail(response, 404, "No such fax");
    Json json;
    json["row"] = RowJson(*row, table, LocalStamp(std::chrono::system_clock::now() - kLongUnconfirmed));
    json["kind"] = "other";
    const auto file = StoredFile(settings_, *row, table);
    if (const auto opened = file ? StoredFileHandle::Open(*file) : std::nullopt) {
        const std::string kind(StoredFileKind(opened->FirstBytes()));
        json["kind"] = kind;
        if (kind == "tiff") {
            try {
                json["pages"] = TiffDocument(opened->Fd(), *file).PageCount();
            } catch (const HostError&) {
                // A damaged TIFF is offered for download only.
                json["kind"] = "other";
            }
        }
    }
    SendJson(response, json);
}

void ViewerServer::Impl::File(const httplib::Request& request, httplib::Response& response) {
    const ArchiveTable table = *TableOf(request.matches[1]);
    const auto row = RowOf(table, request.matches[2]);
    if (!row) return Fail(response, 404, "No such fax");
    const auto file = StoredFile(settings_, *row, table);
    if (!file) return Fail(response, 404, "This fax has no stored file");
    auto opened = StoredFileHandle::Open(*file);
    if (!opened) return Fail(response, 404, "The stored file is missing: " + row->fileId);
    const std::string first = opened->FirstBytes();
    const std::string kind(StoredFileKind(first));
    const bool inlined = request.get_param_value("inline") == "1" && (kind == "pdf" || kind == "audio");
    response.set_header("Content-Disposition", ContentDisposition(!inlined, row->fileName.empty() ? row->fileId : row->fileName));
    // Streamed from the open file: a large attachment never sits in memory whole.
    auto shared = std::make_shared<int>(opened->Release());
    response.set_content_provider(
        opened->Size(), ContentTypeOf(kind, first),
        [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            char buffer[64 * 1024];
            const ssize_t n = ::pread(*shared, buffer, std::min(length, sizeof buffer), static_cast<off_t>(offset));
            if (n <= 0) return false;
            sink.write(buffer, static_cast<std::size_t>(n));
            return true;
        },
        [shared](bool) { ::close(*shared); });
}

void ViewerServer::Impl::Page(const httplib::Request& request, httplib::Response& response) {
    const ArchiveTable table = *TableOf(request.matches[1]);
    const auto row = RowOf(table, request.matches[2]);
    if (!row) return Fail(response, 404, "No such fax");
    const auto file = StoredFile(settings_, *row, table);
    if (!file) return Fail(response, 404, "This fax has no stored file");
    const auto opened = StoredFileHandle::Open(*file);
    if (!opened || StoredFileKind(opened->FirstBytes()) != "tiff") return Fail(response, 404, "This fax has no pages");
    const int page = std::stoi(request.matches[3]);
    try {
        TiffDocument document(opened->Fd(), *file);
        if (page < 1 || page > document.PageCount()) return Fail(response, 404, "No such page");
        // Drawing a large page takes memory and a core: a few at a time, the rest wait their turn.
        std::string png;
        {
            const RenderTurn turn(renders_);
            png = document.RenderPng(page);
        }
        response.set_content(std::move(png), "image/png");
    } catch (const HostError& e) {
        // A damaged fax: the page says so; the file's path stays on this side.
        std::fprintf(stderr, "vexa view: %s\n", e.Description().c_str());
        Fail(response, 422, "This page of the fax cannot be shown; download the file instead.");
    }
}

ViewerServer::ViewerServer(ArchiveQueries& queries, ViewerSettings settings)
    : impl_(std::make_unique<Impl>(queries, std::move(settings))) {}
ViewerServer::~ViewerServer() = default;
int ViewerServer::Bind() { return impl_->Bind(); }
void ViewerServer::Run() { impl_->Run(); }
void ViewerServer::Stop() { impl_->Stop(); }
std::string ViewerServer::FirstAddress() const { return impl_->FirstAddress(); }

std::string NewToken() {
    unsigned char bytes[32];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw HostError(errno, std::string("Can't make a secret: ") + std::strerror(errno));
        }
        got += static_cast<std::size_t>(n);
    }
    std::string token;
    for (const unsigned char byte : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        token += hex;
    }
    return token;
}

}  // namespace vexa::viewer
