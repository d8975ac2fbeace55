// One `--set KEY=VALUE` of `vexa options`, applied to the options dialog's controls as the user
// would set them. Kept apart from the command so that the parsing can be tested on its own.
#pragma once

#include <string>

#include "dialogs/frm_options.h"

namespace vexa::cli {

// Splits `assignment` at its first "=" and sets the control of that option (the key matches
// exactly, letter case included) to the value. Throws UsageError, leaving `form` unchanged, when
// there is no "=", the key is not one of the six options, or the value is one the control
// cannot hold (StoreInMessages takes True or False, AskDescription 0 or 1).
void ApplyOptionAssignment(frmOptions& form, const std::string& assignment);

}  // namespace vexa::cli
