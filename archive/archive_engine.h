// The archive database engine. The add-in holds one open connection from start-up to the
// disconnection; the store procedures run all their work over it. SQLite is the embedded
// engine on Linux; tests use an engine kept in memory.
#pragma once

#include <memory>
#include <string>

namespace vexa {

class ArchiveConnection {
public:
    virtual ~ArchiveConnection() = default;
    // Closes the connection; later calls fail. Throws HostError when the engine fails to close.
    virtual void Close() = 0;
};

class ArchiveEngine {
public:
    virtual ~ArchiveEngine() = default;
    // Opens the existing archive file at `path`. Never creates one: a missing or unreadable file
    // fails with HostError carrying the engine's own description.
    virtual std::unique_ptr<ArchiveConnection> Open(const std::string& path) = 0;
};

}  // namespace vexa
