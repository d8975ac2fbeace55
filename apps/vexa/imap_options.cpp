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
        // The settings of the account the address names still apply (its password command, its
        // CA); the address as given is the one used.
        account = linuxhost::ImapAccountFromSettings();
        if (!account || !linuxhost::SameAccount(account->url, *url)) account.emplace();
        account->url = *url;
    } else if (!options.Has("maildir")) {
        account = linuxhost::ImapAccountFromSettings();
    }
    if (!account) return std::nullopt;
    // A secret given on the command line replaces the settings' way of getting one, whichever it is.
    const auto password = options.Value("password-command");
    const auto token = options.Value("oauth2-token-command");
    if (password || token) {
        account->passwordCommand = password;
        account->oauth2TokenCommand = token;
    }
    if (const auto file = options.Value("ca-file")) account->caFile = file;
    account->insecure = options.Has("insecure");
    return account;
}

}  // namespace vexa::cli
