// The host application, its namespace and the factory that creates a second application object
// by class. The add-in connection hands the running application to the add-in; the second object
// reaches the same running session and is where the add-in takes the Inbox from.
#pragma once

#include <cstdint>
#include <string>

#include "host/events.h"
#include "host/object.h"

namespace vexa {

inline constexpr std::int32_t kOlFolderDeletedItems = 3;
inline constexpr std::int32_t kOlFolderInbox = 6;

class ApplicationEvents {
public:
    virtual ~ApplicationEvents() = default;
    // Raised before `item` is sent; setting `cancel` to true stops the send.
    virtual void ItemSend(const ItemPtr& item, bool& cancel) = 0;
};

class NameSpace : public Object {
public:
    virtual MAPIFolderPtr GetDefaultFolder(std::int32_t folderType) = 0;
};

class Application : public Object {
public:
    using Events = ApplicationEvents;
    virtual Subscription Advise(ApplicationEvents& sink) = 0;

    virtual NameSpacePtr GetNamespace(const std::string& type) = 0;
    // The active explorer window, or null when the host has none.
    virtual ExplorerPtr ActiveExplorer() = 0;
    virtual NameSpacePtr Session() = 0;
};

// Creates the host's application object by class; the object reaches the running session.
class ApplicationFactory {
public:
    virtual ~ApplicationFactory() = default;
    virtual ApplicationPtr CreateApplication() = 0;
};

}  // namespace vexa
