#include "apps/vexa/terminal_dialogs.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "dialogs/frm_description.h"
#include "dialogs/frm_options.h"
#include "host/host_error.h"

namespace vexa::cli {
namespace {

class Terminal {
public:
    Terminal() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {
        if (fd_ < 0) throw HostError(errno, "There is no terminal to show the dialog on.");
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    ~Terminal() {
        if (raw_) ::tcsetattr(fd_, TCSANOW, &saved_);
        ::close(fd_);
    }

    void Write(const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw HostError(errno, "Can't write to the terminal.");
            done += static_cast<std::size_t>(n);
        }
    }

    // Keys one at a time, without echo, so Enter, Esc and Ctrl-C reach us as keys.
    void Raw() {
        if (::tcgetattr(fd_, &saved_) != 0) throw HostError(errno, "The terminal cannot be set up.");
        termios raw = saved_;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
        raw.c_iflag &= static_cast<tcflag_t>(~(ICRNL | IXON));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (::tcsetattr(fd_, TCSANOW, &raw) != 0) throw HostError(errno, "The terminal cannot be set up.");
        raw_ = true;
    }

    int Key() {
        unsigned char c = 0;
        for (;;) {
            const ssize_t n = ::read(fd_, &c, 1);
            if (n == 1) return c;
            if (n < 0 && errno == EINTR) continue;
            return -1;  // the terminal went away
        }
    }

    std::string Line() {
        std::string line;
        for (int c = Key(); c != '\n'; c = Key()) {
            if (c == -1) throw HostError(EIO, "The terminal was closed.");
            line += static_cast<char>(c);
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }

private:
    int fd_;
    termios saved_{};
    bool raw_ = false;
};

// The caption without its access-key marker.
std::string Plain(const std::string& caption) {
    std::string text;
    for (char c : caption) {
        if (c != '&') text += c;
    }
    return text;
}

}  // namespace

void TerminalDialogs::ShowModal(DialogForm& form) {
    form.Show();
    if (dynamic_cast<frmDescription*>(&form)) {
        ShowDescription(form);
    } else {
        ShowOptions(form);
    }
}

void TerminalDialogs::ShowDescription(DialogForm& form) {
    if (description_) {
        form.SetText("tDescription", *description_);
        form.PressEnter();
        return;
    }
    Terminal tty;
    // Keys typed ahead of the prompt are kept: raw mode is on before the prompt shows.
    tty.Raw();
    const ControlInfo* prompt = FindControl(form.Layout(), "lPrompt");
    tty.Write(Plain(prompt ? prompt->caption : "Description:") + "\r\n(Enter confirms, Esc or Ctrl-C cancels, "
              "Ctrl-J starts a new line)\r\n> ");
    std::string text;
    for (;;) {
        const int key = tty.Key();
        if (key == '\r') {
            form.SetText("tDescription", text);
            tty.Write("\r\n");
            form.PressEnter();
            return;
        }
        if (key == 0x1b || key == 0x03 || key == -1) {
            tty.Write("\r\n");
            form.PressEscape();
            return;
        }
        if (key == 0x7f || key == 0x08) {
            // Back over one character, not one byte.
            while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.pop_back();
            if (!text.empty()) {
                text.pop_back();
                tty.Write("\b \b");
            }
            continue;
        }
        std::string typed = key == '\n' ? std::string("\r\n") : std::string(1, static_cast<char>(key));
        form.SetText("tDescription", text + typed);
        // The box takes no more than its limit: a character it refused is not echoed.
        if (form.Text("tDescription").size() > text.size()) {
            text = form.Text("tDescription");
            tty.Write(key == '\n' ? "\r\n  " : typed);
        }
    }
}

void TerminalDialogs::ShowOptions(DialogForm& form) {
    Terminal tty;
    const FormLayout& layout = form.Layout();
    // The controls the user can change, in tab order.
    std::vector<const ControlInfo*> fields;
    for (int index = 0;; ++index) {
        const ControlInfo* found = nullptr;
        for (const auto& control : layout.controls) {
            if (control.tabIndex == index) found = &control;
        }
        if (!found) break;
        if (found->kind != ControlKind::CommandButton) fields.push_back(found);
    }
    auto label = [&](const ControlInfo& field) {
        // A text box is named by the label whose access key leads to it.
        for (const auto& control : layout.controls) {
            if (control.accessKeyTarget == field.name) return Plain(control.caption);
        }
        return Plain(field.caption);
    };
    while (form.Visible()) {
        std::string screen = "\n" + layout.caption + "\n";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const ControlInfo& field = *fields[i];
            screen += "  " + std::to_string(i + 1) + ". " + label(field) + " ";
            switch (field.kind) {
                case ControlKind::TextBox:
                    screen += "[" + form.Text(field.name) + "]" + (form.Enabled(field.name) ? "" : " (disabled)");
                    break;
                case ControlKind::OptionButton:
                    screen += form.Value(field.name) ? "(*)" : "( )";
                    break;
                case ControlKind::CheckBox:
                    screen += form.Value(field.name) == 1 ? "[x]" : "[ ]";
                    break;
                default:
                    break;
            }
            screen += "\n";
        }
        screen += "Number to change, O for OK, C for Cancel: ";
        tty.Write(screen);
        const std::string answer = tty.Line();
        if (answer == "o" || answer == "O") {
            form.Click("OKButton");
        } else if (answer == "c" || answer == "C") {
            form.Click("CancelButton");
        } else {
            std::size_t chosen = 0;
            try {
                chosen = std::stoul(answer);
            } catch (...) {
            }
            if (chosen < 1 || chosen > fields.size()) continue;
            const ControlInfo& field = *fields[chosen - 1];
            if (field.kind == ControlKind::TextBox) {
                if (!form.Enabled(field.name)) continue;
                tty.Write(label(field) + " ");
                form.SetText(field.name, tty.Line());
            } else {
                form.Click(field.name);
            }
        }
    }
}

}  // namespace vexa::cli
