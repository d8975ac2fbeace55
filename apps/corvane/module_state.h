// The state of the loaded module that every add-in object in it shares: Outlook's application
// object, created by class the first time an add-in object needs it and then kept.
#pragma once

#include "addin/platform.h"

namespace vexa::com {

AddinModule& ModuleState();

}  // namespace vexa::com
