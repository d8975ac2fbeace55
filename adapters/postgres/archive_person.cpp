#include "adapters/postgres/archive_person.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <vector>

namespace vexa::postgres {

std::string ArchivePerson() {
    if (const char* named = std::getenv("VEXA_PERSON"); named != nullptr && *named != '\0') return named;
    // The account, not $USER: a variable anyone can set says less than the password database.
    std::string user;
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr) {
        user = found->pw_name;
    }
    if (user.empty()) user = std::to_string(::getuid());
    std::array<char, 256> host{};
    if (::gethostname(host.data(), host.size() - 1) != 0 || host[0] == '\0') return user + "@localhost";
    return user + "@" + host.data();
}

}  // namespace vexa::postgres
