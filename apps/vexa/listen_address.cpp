#include "apps/vexa/listen_address.h"

#include "apps/vexa/cli.h"

namespace vexa::cli {

std::pair<std::string, int> ParseListenAddress(const std::string& text, const std::string& where,
                                               const std::string& example, bool anyPort) {
    const std::size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
    const std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    // Above 65535 the number would wrap to another port.
    const bool numeric = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    const int number = numeric ? std::stoi(port) : -1;
    if (host.empty() || number < (anyPort ? 0 : 1) || number > 65535) {
        throw UsageError(where + " takes HOST:PORT" + (anyPort ? "" : " (a port from 1 to 65535)") + ", such as " +
                         example + ", not '" + text + "'");
    }
    return {host, number};
}

}  // namespace vexa::cli
