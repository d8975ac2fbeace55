// Taking an outgoing fax back out of the archive when its mail never left: the transport failed
// after the send had written the row and stored the document. A row left behind would stay
// "Unconfirmed" for good, and the resend gets a row of its own anyway.
#pragma once

#include <cstdint>
#include <filesystem>

#include "archive/archive_engine.h"
#include "archive/file_store.h"

namespace vexa::linuxhost {

// Deletes row `id` of send in the archive of `installation`, then its stored document (also one
// still under its pending name). Throws HostError when the archive refuses; the files stay then.
void WithdrawSentFax(ArchiveEngine& engine, FileStore& files, const std::filesystem::path& installation,
                     std::int64_t id);

}  // namespace vexa::linuxhost
