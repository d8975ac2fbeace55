#include "linux/sent_fax_withdrawal.h"

#include <string_view>

#include "archive/archive_names.h"
#include "linux/environment.h"

namespace vexa::linuxhost {

void WithdrawSentFax(ArchiveEngine& engine, FileStore& files, const std::filesystem::path& installation,
                     std::int64_t id) {
    {
        const auto connection = engine.Open((installation / kArchiveFileName).string());
        ArchiveTransaction transaction(*connection);
        connection->Execute(std::string("DELETE FROM ") + kSendTable + " WHERE Id = ?", {FieldValue(id)});
        transaction.Commit();
        connection->Close();
    }
    // The row goes first: a row must never point at a file that is gone.
    const std::filesystem::path attach = installation / kAttachFolder;
    for (const auto& name : files.List(attach.string())) {
        std::string_view stored = name;
        if (stored.ends_with(kPendingSuffix)) stored.remove_suffix(std::string_view(kPendingSuffix).size());
        const auto owner = OwnerOfStoredFile(stored);
        if (owner && std::string_view(owner->table) == kSendTable && owner->id == id) {
            files.Remove((attach / name).string());
        }
    }
}

}  // namespace vexa::linuxhost
