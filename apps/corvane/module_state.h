// The state of the loaded module that every add-in object in it shares: Outlook's application
// object, taken from the first connection that needs it (the one Outlook handed over) and then
// kept.
#pragma once

#include <windows.h>

#include "adapters/outlook/outlook_host.h"
#include "addin/platform.h"

namespace vexa::com {

AddinModule& ModuleState();
// Where the module takes its application from: each connection offers the one Outlook handed it.
outlook::HandedOverApplication& ModuleOutlook();

// The loaded Corvane.dll, whose file holds the type library and is what registration names.
extern HMODULE moduleHandle;

}  // namespace vexa::com
