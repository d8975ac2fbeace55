// Path rules of the two platforms, as plain string functions: Windows paths as the scripting
// runtime's FileSystemObject reads them (both separators, drive letters, UNC shares), and POSIX
// paths. The Linux command uses the POSIX rules; the Windows add-in and its tests use the others.
#pragma once

#include <string>

#include "addin/file_system.h"

namespace vexa::paths {

class WindowsPathRules final : public FileSystem {
public:
    std::string GetParentFolderName(const std::string& path) override;
    std::string GetExtensionName(const std::string& path) override;
    std::string BuildPath(const std::string& folder, const std::string& name) override;
};

class PosixPathRules final : public FileSystem {
public:
    std::string GetParentFolderName(const std::string& path) override;
    std::string GetExtensionName(const std::string& path) override;
    std::string BuildPath(const std::string& folder, const std::string& name) override;
};

}  // namespace vexa::paths
