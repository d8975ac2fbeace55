// Modal message boxes: OK button only, no icon. Every handler reports through this; the add-in
// always passes its own title. Windows shows a real box, the command line prints a line, tests
// record what was shown.
#pragma once

#include <string>

namespace vexa {

inline constexpr const char* kAppTitle = "Vexa - Message Manager";

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    // Shows `text` and returns when the user has closed the box.
    virtual void Show(const std::string& text, const std::string& title) = 0;
};

}  // namespace vexa
