// Checking an archive's address before it is used or recorded, with libpq's own parser.

#include <libpq-fe.h>

#include <memory>
#include <string>

#include "adapters/postgres/postgres_archive.h"

namespace vexa::postgres {
namespace {

struct OptionsFree {
    void operator()(PQconninfoOption* options) const noexcept { PQconninfoFree(options); }
};
struct MessageFree {
    void operator()(char* message) const noexcept { PQfreemem(message); }
};

}  // namespace

std::optional<std::string> ArchiveAddressProblem(const std::string& uri) {
    const std::size_t scheme = uri.find("://");
    if (scheme != std::string::npos && uri.compare(0, scheme, "postgresql") != 0 && uri.compare(0, scheme, "postgres") != 0)
        return "the shared archive is a PostgreSQL database: give its address as postgresql://USER@HOST[:PORT]/DATABASE";
    char* rawMessage = nullptr;
    const std::unique_ptr<PQconninfoOption, OptionsFree> options(PQconninfoParse(uri.c_str(), &rawMessage));
    const std::unique_ptr<char, MessageFree> message(rawMessage);
    if (!options) {
        // libpq's message may quote the address, password and all: say what is wrong without it.
        std::string why = message ? message.get() : "";
        if (why.find(uri) != std::string::npos || why.find("password") != std::string::npos) why.clear();
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
        return "libpq cannot read the address" + (why.empty() ? std::string(".") : ": " + why);
    }
    for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
        if (std::string(option->keyword) == "password" && option->val != nullptr && *option->val != '\0') {
            return "the address holds a password: put it in ~/.pgpass (or the file $PGPASSFILE names) instead";
        }
    }
    return std::nullopt;
}

}  // namespace vexa::postgres
