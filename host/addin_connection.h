// The add-in connection interface through which the host loads the add-in and tells it about
// start-up, add-in list changes and shutdown. The add-in object implements it; a host adapter
// (COM for the real host, the memory host in tests, the command line on Linux) calls it.
#pragma once

#include <any>
#include <cstdint>
#include <vector>

#include "host/object.h"

namespace vexa {

enum class ConnectMode : std::int32_t { AfterStartup = 0, Startup = 1, External = 2, CommandLine = 3 };
enum class DisconnectMode : std::int32_t { HostShutdown = 0, UserClosed = 1 };
using CustomArgs = std::vector<std::any>;

class AddinConnection {
public:
    virtual ~AddinConnection() = default;
    virtual void OnConnection(const ObjectPtr& application, ConnectMode connectMode,
                              const ObjectPtr& addInInst, CustomArgs& custom) = 0;
    virtual void OnDisconnection(DisconnectMode removeMode, CustomArgs& custom) = 0;
    virtual void OnAddInsUpdate(CustomArgs& custom) = 0;
    virtual void OnStartupComplete(CustomArgs& custom) = 0;
    virtual void OnBeginShutdown(CustomArgs& custom) = 0;
};

}  // namespace vexa
