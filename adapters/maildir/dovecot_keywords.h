// Keywords of a message (IMAP's user flags, such as "Work") across a move between folders.
// Dovecot writes them into the file name as the letters a-z after ":2,", and each folder maps
// its letters to names in its own "dovecot-keywords" file ("0 Work" names the letter a), so a
// letter means another keyword, or none, in another folder. A move translates the letters.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vexa::maildir {

// A folder's keyword names by letter: [0] is the name of a, "" a letter without a name.
using KeywordNames = std::vector<std::string>;

KeywordNames ParseKeywords(const std::string& text);
std::string FormatKeywords(const KeywordNames& names);

// `flags` (the letters after ":2,") with each keyword letter of `from` replaced by the letter of
// the same name in `to`, which gets a free letter for a name it lacks. A letter `from` has no
// name for stays as it is unless it means something in `to`; a name that finds no free letter
// is dropped, as Dovecot does. The result is in ASCII order, without repeats.
std::string TranslateKeywords(const std::string& flags, const KeywordNames& from, KeywordNames& to);

// The same between two Maildir folders on disk: reads both folders' lists and adds missing names
// to the target's, under Dovecot's lock. Flags without keyword letters touch no file.
std::string CarryKeywords(const std::string& flags, const std::filesystem::path& fromFolder,
                          const std::filesystem::path& toFolder);

}  // namespace vexa::maildir
