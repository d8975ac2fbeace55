// One `--set KEY=VALUE` of `vexa options`, applied to the options dialog's controls as the user
// would set them, or written straight to the settings store to repair a damaged value. Kept
// apart from the command so that the parsing can be tested on its own.
#pragma once

#include <string>
#include <vector>

#include "dialogs/frm_options.h"
#include "settings/settings_store.h"

namespace vexa::cli {

// An assignment checked and put in its stored form: the key, and the text the settings store
// keeps for the value.
struct StoredOption {
    std::string key;
    std::string text;
};

// Splits `assignment` at its first "=" and checks it. Throws UsageError when there is no "=",
// the key is not one of the six options (the key matches exactly, letter case included), or the
// value is one the option cannot hold: StoreInMessages takes True or False, AskDescription 0 or
// 1, and StoreFolderName one folder name (no "/" or control characters, not starting with ".", so
// neither "." nor "..": the messages must land in a folder of the Inbox, not anywhere else), or
// nothing, which keeps archived mail in the Inbox.
StoredOption CheckOptionAssignment(const std::string& assignment);

// Sets the control of that option to the value; throws as CheckOptionAssignment does, leaving
// `form` unchanged.
void ApplyOptionAssignment(frmOptions& form, const std::string& assignment);

// Writes each assignment, already checked, to the store as the dialog's OK would write it, without
// loading the other options: the way to replace a stored value that no longer converts and so
// keeps the dialog from loading.
void SaveOptionAssignments(SettingsStore& store, const std::vector<std::string>& assignments);

}  // namespace vexa::cli
