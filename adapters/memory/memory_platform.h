// In-memory stand-ins for the platform components, for tests: a registry, a settings store, a
// message box that records what it showed, and the mail-item wrapper. Each can
// be made to fail where the real component can.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "addin/registry.h"
#include "archive/file_store.h"
#include "dialogs/message_box.h"
#include "handlers/shell.h"
#include "host/host_error.h"
#include "recognition/safe_mail_item.h"
#include "settings/settings_store.h"

namespace vexa::memory {

class MemoryRegistry final : public Registry {
public:
    std::int32_t RegOpenKeyA(RegKey key, const char* subKey, RegKey& opened) override;
    std::int32_t RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* reserved, std::uint32_t& type,
                                  unsigned char* data, std::uint32_t& size) override;
    std::int32_t RegCloseKey(RegKey key) override;

    // Stores a value; `valueName` empty is the key's default value. A string value's bytes get
    // their terminating NUL here, as the registry stores them.
    void SetString(RegKey root, const std::string& subKey, const std::string& valueName, const std::string& value,
                   std::uint32_t type = kRegSz);
    void CreateKey(RegKey root, const std::string& subKey);
    // Makes every call throw, as a broken platform layer would.
    void FailCalls(std::optional<HostError> failure) { failure_ = std::move(failure); }

    // Calls made, e.g. "RegQueryValueExA(data=null, size=0)", for checking the call protocol.
    const std::vector<std::string>& Calls() const { return calls_; }
    std::size_t OpenHandles() const { return handles_.size(); }

private:
    struct Value {
        std::uint32_t type;
        std::string bytes;
    };
    static std::string KeyName(RegKey root, const std::string& subKey);
    std::map<std::string, std::map<std::string, Value>> keys_;  // by lower-case full key and value name
    std::map<RegKey, std::string> handles_;
    RegKey nextHandle_ = 0x100;
    std::optional<HostError> failure_;
    std::vector<std::string> calls_;
};

class MemorySettingsStore final : public SettingsStore {
public:
    std::string GetSetting(const std::string& appName, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override;
    void SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                     const std::string& value) override;

    // The stored value, without going through GetSetting; unset when absent.
    std::optional<std::string> Value(const std::string& section, const std::string& key) const;
    // Every write, in order, as "Section/Key=Value".
    const std::vector<std::string>& Writes() const { return writes_; }
    // Writes of this key fail (the earlier value stays).
    void FailWrites(const std::string& section, const std::string& key) { failingWrites_.insert(Name(section, key)); }
    void FailReads(bool fail) { failReads_ = fail; }

private:
    static std::string Name(const std::string& section, const std::string& key);
    std::map<std::string, std::string> values_;  // by lower-case "section/key"
    std::vector<std::string> writes_;
    std::set<std::string> failingWrites_;
    bool failReads_ = false;
};

class RecordingMessageBox final : public MessageBoxService {
public:
    struct Shown {
        std::string text;
        std::string title;
    };
    void Show(const std::string& text, const std::string& title) override { shown_.push_back({text, title}); }
    const std::vector<Shown>& All() const { return shown_; }
    // The texts shown, in order.
    std::vector<std::string> Texts() const;
    void Clear() { shown_.clear(); }

private:
    std::vector<Shown> shown_;
};

// A shell that starts nothing: it records what it was asked to open and answers as configured.
class RecordingShell final : public Shell {
public:
    std::int32_t Open(const std::string& path) override {
        opened_.push_back(path);
        return result_;
    }
    // 42 (started) by default; 2 for a missing file, 31 for no associated program.
    void SetResult(std::int32_t result) { result_ = result; }
    const std::vector<std::string>& Opened() const { return opened_; }

private:
    std::int32_t result_ = 42;
    std::vector<std::string> opened_;
};

// Files through the standard library, for the memory host whose attachments are real files.
// Flush makes nothing durable: tests do not cut the power.
class StdFileStore final : public FileStore {
public:
    bool Exists(const std::string& path) override;
    void Flush(const std::string& path) override;
    void Remove(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> List(const std::string& folder) override;
    // Makes Flush fail, as a full disk would.
    void FailFlush(bool fail) { failFlush_ = fail; }
    // Makes Rename fail, as a crash just before it would leave things.
    void FailRename(bool fail) { failRename_ = fail; }

private:
    bool failFlush_ = false;
    bool failRename_ = false;
};

// The mail-item wrapper over memory mail items; "not registered" makes every creation fail.
class MemorySafeMailItemFactory final : public SafeMailItemFactory {
public:
    std::shared_ptr<SafeMailItem> Create(const std::string& progId) override;
    void SetRegistered(bool registered) { registered_ = registered; }
    int Created() const { return created_; }

private:
    bool registered_ = true;
    int created_ = 0;
};

}  // namespace vexa::memory
