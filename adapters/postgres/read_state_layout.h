// What an archive made before read state per person and Who needs of them: the table vexa_seen
// and the columns who, added when an installation first opens it. Internal to the PostgreSQL
// adapter.
#pragma once

#include "adapters/postgres/pg_connection.h"

namespace vexa::postgres {

// Adds what is missing (in a transaction of its own on `pg`, which must have none open); an
// archive that has it all is only read.
void EnsureReadStateLayout(PgConnection& pg);

}  // namespace vexa::postgres
