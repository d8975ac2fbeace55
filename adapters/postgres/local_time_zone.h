// The zone this machine's local times are in, as the archive server is told it: the server
// archive stores instants, and each connection reads and writes them in the writer's own zone,
// so the same fax archived in Berlin and in London is the same moment.
#pragma once

#include <ctime>
#include <string>

namespace vexa::postgres {

// The local zone's name as TZ, /etc/localtime or /etc/timezone give it ("Europe/Berlin"); ""
// when none does.
std::string LocalTimeZoneName();

// The zone of UTC offset `eastSeconds` in the POSIX form the server also takes ("LOC-01:00" is
// one hour east of Greenwich): the fallback when the server does not know the name.
std::string FixedOffsetZone(long eastSeconds);

}  // namespace vexa::postgres
