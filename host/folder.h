// Folders of the mail store and their item collections. A folder's subfolders are looked up and
// added by name; its items collection raises ItemAdd for every item that arrives in it.
#pragma once

#include <cstdint>
#include <string>

#include "host/events.h"
#include "host/object.h"

namespace vexa {

class ItemsEvents {
public:
    virtual ~ItemsEvents() = default;
    virtual void ItemAdd(const ItemPtr& item) = 0;
};

class Items : public Object {
public:
    using Events = ItemsEvents;
    virtual Subscription Advise(ItemsEvents& sink) = 0;

    virtual std::int32_t Count() = 0;
    virtual ItemPtr Item(std::int16_t index) = 0;
};

class Folders : public Object {
public:
    virtual std::int32_t Count() = 0;
    // The subfolder of that name; fails when there is none.
    virtual MAPIFolderPtr Item(const std::string& name) = 0;
    // Creates a subfolder and returns it; fails when the name is taken.
    virtual MAPIFolderPtr Add(const std::string& name) = 0;
};

class MAPIFolder : public Object {
public:
    virtual std::string Name() = 0;
    virtual ItemsPtr Items() = 0;
    virtual FoldersPtr Folders() = 0;
};

}  // namespace vexa
