// Message boxes of the command line: each one is a line on standard error holding its text as it
// stands. The count decides the exit status: any message shown means exit status 1. While scan
// or watch handles one mail, every line names that mail first, so a message in the journal or
// on the terminal says which of many mails it is about.
#pragma once

#include <cstdio>
#include <string>

#include "dialogs/message_box.h"

namespace vexa::linuxhost {

class ConsoleMessageBox final : public MessageBoxService {
public:
    void Show(const std::string& text, const std::string& /*title*/) override {
        if (progressLine_) std::fputs("\r\033[K", stderr);
        std::fprintf(stderr, "%s%s\n", about_.c_str(), text.c_str());
        std::fflush(stderr);
        progressLine_ = false;
        ++shown_;
    }
    int Shown() const noexcept { return shown_; }
    // A progress line stands on the terminal (without its line break): a message replaces it.
    void SetProgressLine(bool shown) noexcept { progressLine_ = shown; }

    // Control characters (a hostile name or subject) would break the line or drive the terminal.
    static std::string OneLine(std::string text) {
        for (char& c : text) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
        }
        return text;
    }

    // While it lives, the lines shown open with "FILE (SUBJECT): " (or "FILE: " without a
    // subject): the mail's file name and subject, each kept on the one line.
    class About {
    public:
        About(ConsoleMessageBox& box, const std::string& file, const std::string& subject) : box_(box) {
            box_.about_ = OneLine(file) + (subject.empty() ? "" : " (" + OneLine(subject) + ")") + ": ";
        }
        About(const About&) = delete;
        About& operator=(const About&) = delete;
        ~About() { box_.about_.clear(); }

    private:
        ConsoleMessageBox& box_;
    };

private:
    int shown_ = 0;
    bool progressLine_ = false;
    std::string about_;
};

}  // namespace vexa::linuxhost
