// The installation record as start-up reads it. A record file that cannot be read or is damaged
// must not stop the commands that never look at it (vexa options); the commands that do look
// get its failure at start-up, where the add-in reports it as it reports any start-up failure.
#pragma once

#include <filesystem>
#include <memory>

#include "addin/registry.h"

namespace vexa::linuxhost {

struct InstallationRecord {
    std::unique_ptr<Registry> registry;
    // False when the file could not be read: every call of `registry` then fails with the reason.
    bool readable = true;
};

// The record at `path`; an installation that only the older registry file `legacy` records is
// first recorded at `path` from it.
InstallationRecord LoadInstallationRecord(const std::filesystem::path& path, const std::filesystem::path& legacy);

}  // namespace vexa::linuxhost
