// Outlook's object model as the core's host interfaces: the application with ItemSend, the
// namespace and folders, the Inbox's items with ItemAdd, the explorer with its selection, Close
// and command bars, the toolbar buttons with Click. Every member is a late-bound call; every
// event comes through the object's connection point.
#pragma once

#include <oaidl.h>

#include "adapters/outlook/late_bound.h"
#include "host/application.h"
#include "host/command_bars.h"
#include "host/explorer.h"
#include "host/folder.h"

namespace vexa::outlook {

// The core's view of an item Outlook hands over: a mail item for class 43, else a plain item.
ItemPtr WrapItem(IDispatch* item);
// The core's view of Outlook's application object; anything else converts to a plain object.
ObjectPtr WrapApplication(IDispatch* application);

// Creates Outlook's application object by class, which reaches the running Outlook.
class OutlookApplicationFactory final : public ApplicationFactory {
public:
    ApplicationPtr CreateApplication() override;
};

// The IDispatch behind a host object of this adapter, for calls that pass objects back to Outlook.
IDispatch* DispatchOf(const ObjectPtr& object);

}  // namespace vexa::outlook
