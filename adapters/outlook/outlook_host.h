// Outlook's object model as the core's host interfaces: the application with ItemSend, the
// namespace and folders, the Inbox's items with ItemAdd, the explorer with its selection, Close
// and command bars, the toolbar buttons with Click. Every member is a late-bound call; every
// event comes through the object's connection point.
#pragma once

#include <oaidl.h>

#include <utility>

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

// Gives the module the Application object that Outlook handed to the connection under way.
// Outlook trusts what is reached through that object and nothing reached through one created by
// class: an address read through the latter brings up its security prompt. The module keeps
// the first one it takes, so everything the add-in reaches derives from a trusted object.
class HandedOverApplication final : public ApplicationFactory {
public:
    // Offers `application` until the hand-over ends, at the end of the connection call. The
    // factory keeps no reference: the module takes its own when it keeps the object.
    class HandOver {
    public:
        HandOver(HandedOverApplication& factory, IDispatch* application)
            : factory_(factory), previous_(std::exchange(factory.offered_, application)) {}
        ~HandOver() { factory_.offered_ = previous_; }
        HandOver(const HandOver&) = delete;
        HandOver& operator=(const HandOver&) = delete;

    private:
        HandedOverApplication& factory_;
        IDispatch* previous_;
    };

    [[nodiscard]] HandOver Offer(IDispatch* application) { return HandOver(*this, application); }

    // Outside a connection, or with an object that is not Outlook's application, there is
    // nothing to give: fails with HostError.
    ApplicationPtr CreateApplication() override;

private:
    IDispatch* offered_ = nullptr;
};

// The IDispatch behind a host object of this adapter, for calls that pass objects back to Outlook.
IDispatch* DispatchOf(const ObjectPtr& object);

}  // namespace vexa::outlook
