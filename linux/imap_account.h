// The IMAP account a command archives from: its address (imaps://user@host[:port] or
// imap://user@host[:port]), how its secret is had (a password from $VEXA_IMAP_PASSWORD or from
// the first line a command prints, or an OAuth2 token from a command, as mbsync's PassCmd), and
// how its certificate is checked. Given on the command line or in the settings file's [Mailbox]
// section. The secret is only ever held in memory: never in an argument list, a message or a log.
#pragma once

#include <filesystem>
#include <optional>
#include <string>


namespace vexa::linuxhost {

// The settings file's section of the account, and its keys (IdleRenewSeconds: linux/idle_renewal.h).
inline constexpr const char* kMailboxSection = "Mailbox";
inline constexpr const char* kMailboxKeys[] = {"Url", "PasswordCommand", "OAuth2TokenCommand", "CaFile",
                                               "IdleRenewSeconds"};

struct ImapAccount {
    std::string url;
    std::optional<std::string> passwordCommand;
    std::optional<std::string> oauth2TokenCommand;
    std::optional<std::string> caFile;
    bool insecure = false;
};

// The account of the settings file's [Mailbox] section (Url=, PasswordCommand=,
// OAuth2TokenCommand=, CaFile=); nothing when it names none.
std::optional<ImapAccount> ImapAccountFromSettings();

// Whether the addresses `a` and `b` name the same account (scheme, user, host and port, as
// ImapAccountKey compares them); addresses that do not parse are the same only when written alike.
bool SameAccount(const std::string& a, const std::string& b);

// The password or token. Throws HostError saying what is missing or which command failed (never
// what it printed).
std::string ReadSecret(const ImapAccount& account);

// The first line the shell command `command` prints: a password command's password (the IMAP
// account's, the relay's upstream login). Its standard error goes to ours, so a password manager
// can ask for its passphrase; what it prints is never repeated. Throws HostError naming `what`
// when it cannot run, prints nothing, or does not answer within a minute.
std::string FirstLineOfCommand(const std::string& command, const char* what);

// This account's mirror Maildir under $XDG_CACHE_HOME/vexa/imap, and its state file's name.
std::filesystem::path MirrorFolder(const ImapAccount& account);
std::string AccountKey(const ImapAccount& account);
// `folder`/KEY`suffix`, the account's file or folder there; one kept under the name an earlier
// version gave the account is renamed to it first.
std::filesystem::path KeptUnderAccountKey(const std::filesystem::path& folder, const ImapAccount& account,
                                          const std::string& suffix);

}  // namespace vexa::linuxhost
