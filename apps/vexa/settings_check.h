// What in the settings file vexa does not read: a key in a section it does not belong to (a line
// appended by hand to the end of the file, which is another section's end than the one meant), a
// key above every section, a section of nobody's. The store reads past them silently; the user
// hears of each once per command, with where it belongs when it belongs somewhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexa::cli {

// One line per key vexa ignores in the settings file whose text is `contents`, each naming the
// file `fileName`, its line, and the section the key belongs in when there is one.
std::vector<std::string> SettingsWarnings(std::string_view contents, const std::string& fileName);

// Prints SettingsWarnings of the user's settings file, if any, on standard error.
void WarnAboutSettings();

}  // namespace vexa::cli
