// `vexa view`'s web server: the archive of one installation as a web page on the loopback
// interface, for the user who started it only. Every request carries the secret token (in the
// address of the first visit, then in an HttpOnly, SameSite=Strict cookie); requests that change
// something are POST and come from the page's own origin. Files are served by row only, from the
// installation's Attach folder, under fixed content types. Everything the archive holds came from
// strangers' mail and is only ever sent as data (JSON, escaped by the page).
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <memory>
#include <string>

#include "archive/archive_queries.h"

namespace vexa::viewer {

struct ViewerSettings {
    std::string host = "127.0.0.1";
    int port = 0;  // 0: a free port
    std::filesystem::path attachFolder;
    // Where a stored file can be read, by its id (already checked to be one the store makes for
    // the row), when the archive keeps its files elsewhere than in attachFolder; nothing when
    // there is none.
    std::function<std::optional<std::filesystem::path>(const std::string& fileId)> storedFile;
    std::string token;  // the secret every request must carry
};

class ViewerServer {
public:
    // `queries` must outlive the server; the server serialises its calls.
    ViewerServer(ArchiveQueries& queries, ViewerSettings settings);
    ~ViewerServer();
    ViewerServer(const ViewerServer&) = delete;
    ViewerServer& operator=(const ViewerServer&) = delete;

    // Binds the address; returns the port. Throws HostError when it cannot.
    int Bind();
    // Serves until Stop (from another thread or a signal handler's thread).
    void Run();
    void Stop();
    // The address a browser opens first: http://HOST:PORT/?token=TOKEN.
    std::string FirstAddress() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// A fresh secret for a viewer: 32 random bytes as hexadecimal.
std::string NewToken();

}  // namespace vexa::viewer
