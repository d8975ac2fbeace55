#include "linux/installation_record.h"

#include "adapters/posix/legacy_registry_file.h"
#include "adapters/posix/record_registry.h"
#include "host/host_error.h"

namespace vexa::linuxhost {
namespace {

// Stands in for a record that could not be read: each lookup fails with the reading's failure.
class UnreadableRegistry final : public Registry {
public:
    explicit UnreadableRegistry(HostError failure) : failure_(std::move(failure)) {}
    std::int32_t RegOpenKeyA(RegKey, const char*, RegKey&) override { throw failure_; }
    std::int32_t RegQueryValueExA(RegKey, const char*, std::uint32_t*, std::uint32_t&, unsigned char*,
                                  std::uint32_t&) override {
        throw failure_;
    }
    std::int32_t RegCloseKey(RegKey) override { throw failure_; }

private:
    HostError failure_;
};

}  // namespace

InstallationRecord LoadInstallationRecord(const std::filesystem::path& path, const std::filesystem::path& legacy) {
    try {
        posix::ImportRegistryFile(legacy, path);
        return {std::make_unique<posix::RecordRegistry>(path), true};
    } catch (const HostError& failure) {
        return {std::make_unique<UnreadableRegistry>(failure), false};
    } catch (...) {
        return {std::make_unique<UnreadableRegistry>(HostError(error::kApplicationDefined, CurrentErrorDescription())),
                false};
    }
}

}  // namespace vexa::linuxhost
