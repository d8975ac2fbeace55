// The registry calls of the installation-folder lookup on Windows: advapi32's ANSI entry points,
// with the 32-bit key handles of the Registry interface mapped to real (pointer-sized) HKEYs.
// The add-in's platform wiring hands one to the connection code.
#pragma once

#include <cstdint>
#include <memory>

#include "addin/registry.h"

namespace vexa {

class WindowsRegistry final : public Registry {
public:
    WindowsRegistry();
    // Closes any key the caller left open.
    ~WindowsRegistry() override;
    WindowsRegistry(const WindowsRegistry&) = delete;
    WindowsRegistry& operator=(const WindowsRegistry&) = delete;

    // Return codes are advapi32's own, except kRegInvalidHandle for a handle this object never
    // gave out (or already closed), which advapi32 is never asked about. An empty `subKey` gives
    // back the handle passed in, as advapi32 does, so closing either closes both.
    std::int32_t RegOpenKeyA(RegKey key, const char* subKey, RegKey& opened) override;
    // String data comes back in the ANSI code page, as RegQueryValueExA gives it.
    std::int32_t RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* reserved,
                                  std::uint32_t& type, unsigned char* data, std::uint32_t& size) override;
    std::int32_t RegCloseKey(RegKey key) override;

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
};

}  // namespace vexa
