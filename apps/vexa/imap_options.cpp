#include "apps/vexa/imap_options.h"

#include "apps/vexa/cli.h"

namespace vexa::cli {

std::vector<OptionRule> ImapOptionRules() {
    return {{"imap", true}, {"password-command", true}, {"oauth2-token-command", true}, {"ca-file", true}, {"insecure", false}};
}

std::optional<linuxhost::ImapAccount> ImapAccountOf(const ParsedOptions& options) {
    if (options.Has("maildir") && options.Has("imap")) throw UsageError("--maildir and --imap exclude each other");
    std::optional<linuxhost::ImapAccount> account;
    if (const auto url = options.Value("imap")) {
        account.emplace().url = *url;
    } else if (!options.Has("maildir")) {
        account = linuxhost::ImapAccountFromSettings();
    }
    if (!account) return std::nullopt;
    if (const auto command = options.Value("password-command")) account->passwordCommand = command;
    if (const auto command = options.Value("oauth2-token-command")) account->oauth2TokenCommand = command;
    if (const auto file = options.Value("ca-file")) account->caFile = file;
    account->insecure = options.Has("insecure");
    return account;
}

}  // namespace vexa::cli
