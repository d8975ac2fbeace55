// The path rules of the platform's file system, as the add-in needs them to find its installation
// folder and to name the files in it. Windows follows the scripting runtime's rules (both
// separators, drive letters); Linux follows POSIX paths.
#pragma once

#include <string>

namespace vexa {

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // The path without its last component and the separator before it; "" for a bare name.
    virtual std::string GetParentFolderName(const std::string& path) = 0;
    // The text after the last "." of the last component, without the dot; "" when it has none.
    virtual std::string GetExtensionName(const std::string& path) = 0;
    // `folder` and `name` joined by one separator.
    virtual std::string BuildPath(const std::string& folder, const std::string& name) = 0;
};

}  // namespace vexa
