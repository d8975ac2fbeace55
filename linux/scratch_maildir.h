// An empty Maildir in a private temporary folder, removed again when the object goes. The commands
// that never touch the mailbox (send, convert, open, manual) run the add-in over one when the user
// has no Maildir: the host wants an Inbox to bind, but nothing is ever delivered to this one.
#pragma once

#include <filesystem>

namespace vexa::linuxhost {

class ScratchMaildir {
public:
    // Throws HostError when no temporary folder can be made ($TMPDIR, else /tmp).
    ScratchMaildir();
    ~ScratchMaildir();
    ScratchMaildir(const ScratchMaildir&) = delete;
    ScratchMaildir& operator=(const ScratchMaildir&) = delete;

    const std::filesystem::path& Path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace vexa::linuxhost
