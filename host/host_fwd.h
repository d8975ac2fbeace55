// Reference types of the mail host's objects. Host objects are shared: whoever holds a pointer
// keeps the object alive, and releasing an object is dropping the pointer.
#pragma once

#include <memory>

namespace vexa {

class Object;
class Item;
class MailItem;
class Attachments;
class Attachment;
class Recipients;
class Recipient;
class AddressEntry;
class Application;
class NameSpace;
class MAPIFolder;
class Folders;
class Items;
class Explorer;
class Selection;
class CommandBars;
class CommandBar;
class CommandBarControls;
class CommandBarControl;
class CommandBarButton;

using ObjectPtr = std::shared_ptr<Object>;
using ItemPtr = std::shared_ptr<Item>;
using MailItemPtr = std::shared_ptr<MailItem>;
using AttachmentsPtr = std::shared_ptr<Attachments>;
using AttachmentPtr = std::shared_ptr<Attachment>;
using RecipientsPtr = std::shared_ptr<Recipients>;
using RecipientPtr = std::shared_ptr<Recipient>;
using AddressEntryPtr = std::shared_ptr<AddressEntry>;
using ApplicationPtr = std::shared_ptr<Application>;
using NameSpacePtr = std::shared_ptr<NameSpace>;
using MAPIFolderPtr = std::shared_ptr<MAPIFolder>;
using FoldersPtr = std::shared_ptr<Folders>;
using ItemsPtr = std::shared_ptr<Items>;
using ExplorerPtr = std::shared_ptr<Explorer>;
using SelectionPtr = std::shared_ptr<Selection>;
using CommandBarsPtr = std::shared_ptr<CommandBars>;
using CommandBarPtr = std::shared_ptr<CommandBar>;
using CommandBarControlsPtr = std::shared_ptr<CommandBarControls>;
using CommandBarControlPtr = std::shared_ptr<CommandBarControl>;
using CommandBarButtonPtr = std::shared_ptr<CommandBarButton>;

}  // namespace vexa
