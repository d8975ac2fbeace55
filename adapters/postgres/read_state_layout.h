// What an archive made before read state per person, Who and the ordered lists needs of them:
// the table vexa_seen, the columns who and the lists' indexes, added when an installation first
// opens it. Internal to the PostgreSQL adapter.
#pragma once

#include "adapters/postgres/pg_connection.h"

namespace vexa::postgres {

// Adds what is missing (in a transaction of its own on `pg`, which must have none open); an
// archive that has it all is only read.
void EnsureReadStateLayout(PgConnection& pg);

}  // namespace vexa::postgres
