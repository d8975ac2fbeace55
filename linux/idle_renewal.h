// How often vexa watch renews its IDLE on the IMAP server: IdleRenewSeconds= in the settings
// file's [Mailbox] section, 90 by default. Each renewal must be answered within seconds, so this
// bounds how long a connection that died without a word (a NAT that forgot it, a Wi-Fi that
// changed, a laptop that slept) keeps a fax waiting: by default the new connection is there
// within 2 minutes, and renewals come well before the few minutes after which NATs commonly
// forget an idle connection.
#pragma once

namespace vexa::linuxhost {

// The seconds between renewals: the setting when it is a whole number of 1 to 1740 (29 minutes,
// before servers may drop an idle client), else the default.
int IdleRenewSeconds();

}  // namespace vexa::linuxhost
