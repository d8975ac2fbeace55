// The toolbar's four commands: Convert, Options, the new-message indicator (viewer) and Help.

#include "addin/connect.h"

namespace vexa {

// The commands' work joins here with the archive, the options dialog and the shell.
void Connect::oCBtnConvert_Click(const CommandBarButtonPtr& /*Ctrl*/, bool& /*CancelDefault*/) {}
void Connect::oCBtnOptions_Click(const CommandBarButtonPtr& /*Ctrl*/, bool& /*CancelDefault*/) {}
void Connect::oCBtnIndicator_Click(const CommandBarButtonPtr& /*Ctrl*/, bool& /*CancelDefault*/) {}
void Connect::oCBtnHelp_Click(const CommandBarButtonPtr& /*Ctrl*/, bool& /*CancelDefault*/) {}

}  // namespace vexa
