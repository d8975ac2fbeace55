// Who is at work on a shared archive: the installation's user and host ("ann@desk-3"). Each of
// the archive's connections carries it (the setting vexa.person), so that a row written through
// any of them names who archived it, and New is each person's own. Internal to the PostgreSQL
// adapter.
#pragma once

#include <string>

namespace vexa::postgres {

// The name of the server setting that holds the person on a connection.
inline constexpr const char* kPersonSetting = "vexa.person";

// The process's user and host as "user@host"; the environment variable VEXA_PERSON, when set,
// names the person instead (an office where several people share one account, and tests).
std::string ArchivePerson();

}  // namespace vexa::postgres
