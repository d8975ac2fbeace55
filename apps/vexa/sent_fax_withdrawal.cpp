#include "apps/vexa/sent_fax_withdrawal.h"

#include <string_view>

#include "apps/vexa/environment.h"
#include "archive/archive_names.h"

namespace vexa::cli {

std::optional<std::int64_t> AppendedTag(const std::string& before, const std::string& after) {
    if (!after.starts_with(before)) return std::nullopt;
    const std::string_view tag = std::string_view(after).substr(before.size());
    if (tag.size() < 4 || !tag.starts_with(" {") || !tag.ends_with("}")) return std::nullopt;
    const std::string_view digits = tag.substr(2, tag.size() - 3);
    // Ids are formatted with at least 7 digits and never outgrow a 64-bit integer's 18 safe ones.
    if (digits.size() < 7 || digits.size() > 18) return std::nullopt;
    std::int64_t id = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        id = id * 10 + (c - '0');
    }
    return id;
}

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

}  // namespace vexa::cli
