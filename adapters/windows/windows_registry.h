// The registry calls of the installation-folder lookup on Windows, in the shape of advapi32's
// ANSI entry points but made through the Unicode ones, with the 32-bit key handles of the Registry
// interface mapped to real (pointer-sized) HKEYs and text in UTF-8, the encoding of every string
// in the add-in. The add-in's platform wiring hands one to the connection code.
#pragma once

#include <cstdint>
#include <memory>

#include "addin/registry.h"

namespace vexa::windows {

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
    // Names are UTF-8. Text values (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) come back in UTF-8,
    // converted once from the UTF-16 the registry keeps, so a folder name outside the ANSI code
    // page arrives whole; sizes are those of the UTF-8 bytes, so the size probe and the read
    // agree. Other types come back as advapi32 gives them.
    std::int32_t RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* reserved,
                                  std::uint32_t& type, unsigned char* data, std::uint32_t& size) override;
    std::int32_t RegCloseKey(RegKey key) override;

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
};

}  // namespace vexa::windows
