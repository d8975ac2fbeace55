// The state of the loaded module that every add-in object in it shares: Outlook's application
// object, created by class the first time an add-in object needs it and then kept.
#pragma once

#include <windows.h>

#include "addin/platform.h"

namespace vexa::com {

AddinModule& ModuleState();

// The loaded Corvane.dll, whose file holds the type library and is what registration names.
extern HMODULE moduleHandle;

}  // namespace vexa::com
