// The two independent shutdown steps: the disconnection closes the archive; the close of the
// explorer that was active at connection time saves the toolbar's place and releases every host
// reference, which ends all event subscriptions. Nothing here is ever reported.

#include "addin/connect.h"

namespace vexa {
namespace {

// Runs one shutdown step; a failing step is skipped and the next one still runs.
template <class Step>
void Attempt(Step&& step) noexcept {
    try {
        step();
    } catch (...) {
    }
}

}  // namespace

void Connect::OnDisconnection(DisconnectMode removeMode, CustomArgs& custom) {
    AddinInstance_OnDisconnection(removeMode, custom);
}

void Connect::OnAddInsUpdate(CustomArgs& custom) { AddinInstance_OnAddInsUpdate(custom); }

void Connect::OnStartupComplete(CustomArgs& custom) { AddinInstance_OnStartupComplete(custom); }

void Connect::OnBeginShutdown(CustomArgs& /*custom*/) {}

void Connect::AddinInstance_OnDisconnection(DisconnectMode /*removeMode*/, CustomArgs& /*custom*/) {
    if (!bInitialized) return;
    Attempt([&] { Deref(oConn).Close(); });
    oConn.reset();
    bInitialized = false;
}

void Connect::oExplorer_Close() {
    Attempt([&] { SaveBarPosition(); });
    fOptions.reset();
    oCBtnHelp = nullptr;
    oCBtnOptions = nullptr;
    oCBtnConvert = nullptr;
    oCBtnIndicator = nullptr;
    oInboxItems = nullptr;
    oCBar.reset();
    oCBars.reset();
    oExplorer = nullptr;
    oNameSpace.reset();
    oApp = nullptr;
}

void Connect::AddinInstance_OnStartupComplete(CustomArgs& /*custom*/) {}

void Connect::AddinInstance_OnAddInsUpdate(CustomArgs& /*custom*/) {}

}  // namespace vexa
