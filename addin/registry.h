// The three registry calls that the installation-folder lookup makes, in the shape of the
// Windows ANSI entry points (return code 0 for success, 32-bit key handles, a caller-owned
// data buffer and a size in bytes), so the lookup runs the same algorithm on every platform.
// The Windows adapter forwards to advapi32; Linux reads a file the installer writes.
#pragma once

#include <cstdint>

namespace vexa {

using RegKey = std::uint32_t;

inline constexpr RegKey kHkeyLocalMachine = 0x80000002u;
inline constexpr RegKey kHkeyCurrentUser = 0x80000001u;

inline constexpr std::int32_t kRegSuccess = 0;
inline constexpr std::int32_t kRegFileNotFound = 2;
inline constexpr std::int32_t kRegInvalidHandle = 6;
inline constexpr std::int32_t kRegMoreData = 234;

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

class Registry {
public:
    virtual ~Registry() = default;

    // Opens `subKey` below `key`; on success stores the new handle in `opened`.
    virtual std::int32_t RegOpenKeyA(RegKey key, const char* subKey, RegKey& opened) = 0;

    // Reads value `valueName` of `key` (nullptr: the key's default value). Stores the value's
    // type in `type`. With `data` null, only stores the size in bytes (a string's terminating
    // NUL included) in `size` and succeeds. Otherwise copies the value into `data`, which holds
    // `size` bytes, and stores the bytes written in `size`; a buffer that is too small gives
    // kRegMoreData and the size needed.
    virtual std::int32_t RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* reserved,
                                          std::uint32_t& type, unsigned char* data,
                                          std::uint32_t& size) = 0;

    // Closes a handle that RegOpenKeyA returned.
    virtual std::int32_t RegCloseKey(RegKey key) = 0;
};

}  // namespace vexa
