// The address a server of the vexa command listens on, as --listen and Listen= give it:
// "HOST:PORT" or "[IPv6]:PORT".
#pragma once

#include <string>
#include <utility>

namespace vexa::cli {

// The host (brackets taken off) and the port. Throws UsageError naming `where` and `example` when
// `text` is not such an address. Port 0 (any free port) only when `anyPort`: a server whose
// clients must be told its port cannot take it.
std::pair<std::string, int> ParseListenAddress(const std::string& text, const std::string& where,
                                               const std::string& example, bool anyPort);

}  // namespace vexa::cli
