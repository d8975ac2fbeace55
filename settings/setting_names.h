// Names and defaults of every setting the add-in keeps in the per-user settings store.
#pragma once

namespace vexa::settings {

// Every setting lives under the application name that also titles the message boxes.
inline constexpr const char* kAppName = "Vexa - Message Manager";

inline constexpr const char* kOptions = "Options";
inline constexpr const char* kInCriteria = "InCriteria";
inline constexpr const char* kConfirmCriteria = "ConfirmCriteria";
inline constexpr const char* kOutCriteria = "OutCriteria";
inline constexpr const char* kStoreInMessages = "StoreInMessages";
inline constexpr const char* kStoreFolderName = "StoreFolderName";
inline constexpr const char* kAskDescription = "AskDescription";

// The service's own addresses: the sender of received faxes and voice messages, the sender of
// transmission confirmations, and the mail domain of the sending gateway.
inline constexpr const char* kDefaultInCriteria = "message@inbound.efax.com";
inline constexpr const char* kDefaultConfirmCriteria = "send@mail.efax.com";
inline constexpr const char* kDefaultOutCriteria = "efaxsend.com";
inline constexpr const char* kDefaultStoreFolderName = "VX2 Messages";

inline constexpr const char* kPosition = "Position";
inline constexpr const char* kTop = "Top";
inline constexpr const char* kLeft = "Left";
inline constexpr const char* kPositionKey = "Position";
inline constexpr const char* kRowIndex = "RowIndex";
inline constexpr const char* kVisible = "Visible";

inline constexpr const char* kAppPath = "AppPath";
inline constexpr const char* kPath = "Path";

}  // namespace vexa::settings
