// The table of subcommands, with their synopsis and one-line help.

#include "apps/vexa/cli.h"

namespace vexa::cli {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"init", "vexa init [--home DIR] [--archive postgresql://...]",
         "create the installation: archive, Attach folder, help; record where it is", RunInit},
        {"scan", "vexa scan [--maildir DIR | --imap URL ...] [--include-read]", "archive the faxes and confirmations now in the Inbox", RunScan},
        {"watch", "vexa watch [--maildir DIR | --imap URL ...] [-q]", "archive faxes and confirmations as they arrive", RunWatch},
        {"send", "vexa send [--transport CMD] [--description TEXT] [sendmail options] [--] [recipient...]",
         "sendmail for mail readers: archive a fax on its way out, then hand it on", RunSend},
        {"relay", "vexa relay [--listen HOST:PORT] [--insecure]",
         "outgoing SMTP server for mail programs: archive a fax on its way out, then relay it", RunRelay},
        {"convert", "vexa convert [--description TEXT] FILE|-... | --uid N [--imap URL ...]",
         "archive message files by hand, each on its own (- reads one from standard input)", RunConvert},
        {"options", "vexa options [--show] [--set KEY=VALUE]...", "show or change the options", RunOptions},
        {"list", "vexa list recv|send [--new] [--state STATE] [--search TEXT] [--since DATE] [--until DATE]\n"
         "          [--sort COLUMN] [--ascending|--descending] [--format FORMAT]",
         "print the archived faxes as the viewer lists them, newest first unless asked otherwise", RunList},
        {"view", "vexa view [--listen HOST:PORT] [--no-open]", "show the archive as a web page in the browser", RunView},
        {"export-files", "vexa export-files DIR", "write the archive's stored files into DIR, as Attach holds them", RunExportFiles},
        {"migrate", "vexa migrate --to postgresql://... [--renumber]", "copy the archive and its files to an office's PostgreSQL archive, and use it", RunMigrate},
        {"open", "vexa open", "the archive in its viewer (the running `vexa view`, else a new one)", RunOpen},
        {"manual", "vexa manual", "open the help document", RunManual},
    };
    return commands;
}

std::string CommandHelp(const Command& command) {
    std::string text = std::string("Usage: ") + command.synopsis + "\n  " + command.summary + "\n";
    const std::string name = command.name;
    if (name == "init") {
        text += "\n  --home DIR       the installation folder (default $XDG_DATA_HOME/vexa)\n"
                "  --archive URI    an office's shared archive on a PostgreSQL server instead of the\n"
                "                   embedded one, e.g. postgresql://vexa@db.example.org/faxes; the password\n"
                "                   goes in ~/.pgpass, never in the address. The tables are made if missing.\n"
                "  An existing archive and its files are kept; only the folder is recorded again. An\n"
                "  installation whose own archive holds faxes is not switched: vexa migrate copies them.\n";
    } else if (name == "scan" || name == "watch") {
        text += "\n  --maildir DIR   the mailbox (default $MAILDIR, else ~/Maildir)\n"
                "  --imap URL      an IMAP Inbox instead: imaps://USER@HOST[:PORT], or imap://... with STARTTLS\n"
                "                  (default: Url= in the [Mailbox] section of ~/.config/vexa/settings.ini)\n"
                "  --password-command CMD    its first line of output is the password (else\n"
                "                  $VEXA_IMAP_PASSWORD, else PasswordCommand= in [Mailbox])\n"
                "  --oauth2-token-command CMD   XOAUTH2 with the token it prints (OAuth2TokenCommand=)\n"
                "  --ca-file FILE  trust this CA for the server's certificate (CaFile=)\n"
                "  --insecure      allow a server without STARTTLS to be used in plain text\n";
        if (name == "scan") {
            text += "  --include-read  also archive faxes and confirmations already read (an old mailbox)\n"
                    "  Each message arrives once: a later scan or watch leaves it alone.\n";
        }
        if (name == "watch") {
            text += "  -q, --quiet     no line per archived message on standard output\n"
                    "  IdleRenewSeconds= in [Mailbox]: the seconds between renewals of IDLE (default 90);\n"
                    "  a connection that does not answer one is replaced, within 2 minutes by default.\n"
                    "  SIGHUP reloads the options; SIGTERM or SIGINT stops, with exit status 0 after a\n"
                    "  clean shutdown whatever was reported while it ran.\n";
        }
    } else if (name == "migrate") {
        text += "\n  --to URI      the server archive (made if missing); the password goes in ~/.pgpass\n"
                "  --renumber    faxes whose numbers the server archive already uses for others take its\n"
                "                next numbers (without it nothing is copied then); a sent fax still waiting\n"
                "                for its confirmation never does, as the confirmation quotes its number\n"
                "  Every row goes with its file; run it again after an interruption to copy the rest.\n"
                "  The embedded archive and Attach stay as they are. Stop vexa watch first.\n";
    } else if (name == "convert") {
        text += "\n  --description TEXT   answers the description prompts\n"
                "  Each message is converted as though it alone were selected; \"-\" is the message on\n"
                "  standard input, as a procmail or maildrop pipe hands it over. The files stay where they are.\n"
                "  --uid N              the message with IMAP UID N in the Inbox of the IMAP account (--imap\n"
                "                       URL and the options of scan, else Url= in [Mailbox]): the one a scan\n"
                "                       named by its UID. It stays on the server, unseen; once archived it\n"
                "                       is marked so, and no scan of the account archives it again.\n";
    } else if (name == "send") {
        text += "\n  --transport CMD      the real sendmail, run by /bin/sh -c with the options and recipients\n"
                "                       appended; else $VEXA_TRANSPORT, else Transport= in the [Mail] section\n"
                "                       of ~/.config/vexa/settings.ini, else /usr/sbin/sendmail -oi\n"
                "  --description TEXT   answers the description prompt; else the message's\n"
                "                       X-Fax-Description: field, which is taken out before sending\n"
                "  Reads one message on standard input. Exits with the transport's status; 75 when the fax\n"
                "  was not recorded and so not sent; 78 when the transport cannot be run. A fax whose\n"
                "  transport fails is taken out of the archive again. Until Vexa is installed, mail goes out\n"
                "  unrecorded.\n";
    } else if (name == "relay") {
        text += "\n  --listen HOST:PORT   where mail programs connect (default Listen= in the [Relay] section of\n"
                "                       ~/.config/vexa/settings.ini, else 127.0.0.1:1587); an address other\n"
                "                       than loopback needs Certificate= and Key= there, and AUTH\n"
                "  --insecure           allow an smtp:// upstream without STARTTLS, certificates unchecked\n"
                "  [Relay] Upstream=smtps://HOST:465 or smtp://HOST:587 (STARTTLS) is the real submission\n"
                "  server; a mail program's AUTH is checked there and used for its mail. Your own mail\n"
                "  programs on this machine may send without AUTH: then User= and the first line\n"
                "  PasswordCommand= prints log in, if set. CaFile= trusts that CA for its certificate.\n"
                "  Each mail is handled as vexa send does; its X-Fax-Description: field is the description,\n"
                "  else \"(no description)\". A fax that cannot be recorded gets 451 and is not sent; one the\n"
                "  upstream refuses is taken out of the archive again, and its refusal passed back.\n"
                "  SIGHUP reads the settings again; SIGTERM or SIGINT stops once the mails in progress are done.\n";
    } else if (name == "options") {
        text += "\n  --show            print the six options as KEY=VALUE lines\n"
                "  --set KEY=VALUE   change an option as the dialog's OK would; keys: InCriteria,\n"
                "                    ConfirmCriteria, OutCriteria, StoreInMessages (True/False),\n"
                "                    StoreFolderName, AskDescription (0/1)\n"
                "  Without options, the options dialog is shown on the terminal.\n";
    } else if (name == "list") {
        text += "\n  recv|send        the received or the sent faxes\n"
                "  --new            recv: only the faxes still marked New\n"
                "  --state STATE    send: Unconfirmed, Successful or Unsuccessful\n"
                "  --search TEXT    each word in Number, Subject, Description or FileName, any letter case\n"
                "  --since DATE, --until DATE   YYYY-MM-DD, both days included\n"
                "  --sort COLUMN    date (default), number, subject, description, file, state or who;\n"
                "                   rows that tie in order of their number\n"
                "  --ascending, --descending   the order (default: descending, newest first)\n"
                "  --format FORMAT  table (default; control characters escaped), csv (RFC 4180, with a\n"
                "                   header line) or json (one array of objects named by the columns)\n";
    } else if (name == "view") {
        text += "\n  --listen HOST:PORT  where to listen (default 127.0.0.1 and a free port); the page is\n"
                "                      for whoever has its address, which holds a secret\n"
                "  --no-open           print the address only; do not start the browser\n"
                "  Runs until interrupted (Ctrl-C, SIGTERM).\n";
    }
    text += "\nExit status: 0 nothing reported, 1 a message was reported, 64 usage error, 78 start-up failed.\n";
    return text;
}

}  // namespace vexa::cli
