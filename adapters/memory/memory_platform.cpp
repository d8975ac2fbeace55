#include "adapters/memory/memory_platform.h"

#include "host/ascii_text.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "adapters/memory/memory_mail.h"

namespace vexa::memory {
namespace {

std::string Lower(const std::string& text) { return AsciiLower(std::string_view(text)); }

}  // namespace

std::string MemoryRegistry::KeyName(RegKey root, const std::string& subKey) {
    return Lower(std::to_string(root) + "\\" + subKey);
}

void MemoryRegistry::CreateKey(RegKey root, const std::string& subKey) { keys_[KeyName(root, subKey)]; }

void MemoryRegistry::SetString(RegKey root, const std::string& subKey, const std::string& valueName,
                               const std::string& value, std::uint32_t type) {
    keys_[KeyName(root, subKey)][Lower(valueName)] = Value{type, value + '\0'};
}

std::int32_t MemoryRegistry::RegOpenKeyA(RegKey key, const char* subKey, RegKey& opened) {
    calls_.push_back(std::string("RegOpenKeyA(") + (subKey ? subKey : "") + ")");
    if (failure_) throw *failure_;
    std::string name;
    if (auto handle = handles_.find(key); handle != handles_.end()) {
        name = handle->second + "\\" + Lower(subKey ? subKey : "");
    } else if (key == kHkeyLocalMachine || key == kHkeyCurrentUser) {
        name = KeyName(key, subKey ? subKey : "");
    } else {
        return kRegInvalidHandle;
    }
    if (!keys_.contains(name)) return kRegFileNotFound;
    opened = nextHandle_++;
    handles_[opened] = name;
    return kRegSuccess;
}

std::int32_t MemoryRegistry::RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* /*reserved*/,
                                              std::uint32_t& type, unsigned char* data, std::uint32_t& size) {
    calls_.push_back(std::string("RegQueryValueExA(") + (valueName ? valueName : "default") +
                     (data ? ", data" : ", data=null") + ", size=" + std::to_string(size) + ")");
    if (failure_) throw *failure_;
    auto handle = handles_.find(key);
    if (handle == handles_.end()) return kRegInvalidHandle;
    const auto& values = keys_[handle->second];
    auto value = values.find(Lower(valueName ? valueName : ""));
    if (value == values.end()) return kRegFileNotFound;
    type = value->second.type;
    const auto needed = static_cast<std::uint32_t>(value->second.bytes.size());
    if (data == nullptr) {
        size = needed;
        return kRegSuccess;
    }
    if (size < needed) {
        size = needed;
        return kRegMoreData;
    }
    std::memcpy(data, value->second.bytes.data(), needed);
    size = needed;
    return kRegSuccess;
}

std::int32_t MemoryRegistry::RegCloseKey(RegKey key) {
    calls_.push_back("RegCloseKey");
    if (failure_) throw *failure_;
    return handles_.erase(key) ? kRegSuccess : kRegInvalidHandle;
}

std::string MemorySettingsStore::Name(const std::string& section, const std::string& key) {
    return Lower(section + "/" + key);
}

std::string MemorySettingsStore::GetSetting(const std::string& /*appName*/, const std::string& section,
                                            const std::string& key, const std::string& defaultValue) {
    if (failReads_) throw HostError(5, "Invalid procedure call or argument");
    auto found = values_.find(Name(section, key));
    return found == values_.end() ? defaultValue : found->second;
}

void MemorySettingsStore::SaveSetting(const std::string& /*appName*/, const std::string& section,
                                      const std::string& key, const std::string& value) {
    if (failingWrites_.contains(Name(section, key))) throw HostError(5, "Invalid procedure call or argument");
    values_[Name(section, key)] = value;
    writes_.push_back(section + "/" + key + "=" + value);
}

std::optional<std::string> MemorySettingsStore::Value(const std::string& section, const std::string& key) const {
    auto found = values_.find(Name(section, key));
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

std::vector<std::string> RecordingMessageBox::Texts() const {
    std::vector<std::string> texts;
    for (const auto& shown : shown_) texts.push_back(shown.text);
    return texts;
}

namespace {

class MemorySafeAddress final : public SafeAddress {
public:
    explicit MemorySafeAddress(std::string address) : address_(std::move(address)) {}
    std::string Address() override { return address_; }

private:
    std::string address_;
};

class MemorySafeRecipients final : public SafeRecipients {
public:
    explicit MemorySafeRecipients(std::vector<std::string> addresses) : addresses_(std::move(addresses)) {}
    std::int32_t Count() override { return static_cast<std::int32_t>(addresses_.size()); }
    std::shared_ptr<SafeAddress> Item(std::int16_t index) override {
        if (index < 1 || index > Count()) throw IndexOutOfBounds();
        return std::make_shared<MemorySafeAddress>(addresses_[static_cast<std::size_t>(index - 1)]);
    }

private:
    std::vector<std::string> addresses_;
};

class MemorySafeMailItem final : public SafeMailItem {
public:
    void SetItem(const MailItemPtr& item) override { item_ = As<MemoryMailItem>(item); }
    std::shared_ptr<SafeAddress> Sender() override {
        const auto& sender = Deref(item_).Contents().senderAddress;
        if (!sender) return nullptr;
        return std::make_shared<MemorySafeAddress>(*sender);
    }
    std::shared_ptr<SafeRecipients> Recipients() override {
        std::vector<std::string> addresses;
        for (const auto& recipient : Deref(item_).Contents().recipients) addresses.push_back(recipient.address);
        return std::make_shared<MemorySafeRecipients>(std::move(addresses));
    }

private:
    std::shared_ptr<MemoryMailItem> item_;
};

}  // namespace

bool StdFileStore::Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

void StdFileStore::Flush(const std::string& path) {
    if (failFlush_) throw HostError(28, "No space left on device: " + path);
    if (!Exists(path)) throw HostError(2, "No such file or directory: " + path);
}

void StdFileStore::Remove(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    if (ec) throw HostError(ec.value(), ec.message() + ": " + path);
}

void StdFileStore::Rename(const std::string& from, const std::string& to) {
    if (failRename_) throw HostError(5, "Input/output error: " + from);
    if (Exists(to)) throw HostError(error::kFileAlreadyExists, "File already exists: " + to);
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    if (ec) throw HostError(ec.value(), ec.message() + ": " + from);
}

std::vector<std::string> StdFileStore::List(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

std::shared_ptr<SafeMailItem> MemorySafeMailItemFactory::Create(const std::string& progId) {
    if (!registered_ || progId != kSafeMailItemProgId) {
        throw HostError(429, "ActiveX component can't create object");
    }
    ++created_;
    return std::make_shared<MemorySafeMailItem>();
}

}  // namespace vexa::memory
