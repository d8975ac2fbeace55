// Message boxes of the command line: each one is a line on standard error holding its text as it
// stands. The count decides the exit status: any message shown means exit status 1.
#pragma once

#include <cstdio>
#include <string>

#include "dialogs/message_box.h"

namespace vexa::cli {

class ConsoleMessageBox final : public MessageBoxService {
public:
    void Show(const std::string& text, const std::string& /*title*/) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
        ++shown_;
    }
    int Shown() const noexcept { return shown_; }

private:
    int shown_ = 0;
};

}  // namespace vexa::cli
