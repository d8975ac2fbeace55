// Self-registration of the module: the COM class and its ProgID, the type library, and the
// Outlook add-in key that makes Outlook load the add-in at start-up. Unregistration removes
// exactly that again.
#pragma once

#include <windows.h>

namespace vexa::com {

HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace vexa::com
