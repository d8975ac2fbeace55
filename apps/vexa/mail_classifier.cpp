#include "apps/vexa/mail_classifier.h"

#include <sys/stat.h>

#include "adapters/posix/ini_settings_store.h"

namespace vexa::cli {

// What tells that the settings file changed: a new file put in place (a new inode), a rewrite
// in place (time and size), or the file coming or going.
struct MailClassifier::Stamp {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified = {};

    static Stamp Now() {
        Stamp stamp;
        struct stat info {};
        if (::stat(posix::DefaultSettingsPath().c_str(), &info) == 0) {
            stamp = {true, info.st_ino, info.st_size, info.st_mtim};
        }
        return stamp;
    }
    bool operator==(const Stamp& other) const {
        return exists == other.exists && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
};

MailClassifier::MailClassifier(std::mutex& lock) : lock_(lock) {}
MailClassifier::~MailClassifier() = default;

bool MailClassifier::IsOrdinary(const std::string& message) {
    const std::lock_guard<std::mutex> hold(lock_);
    const Stamp now = Stamp::Now();
    if (!runtime_ || !stamp_ || !(*stamp_ == now)) {
        runtime_.reset();
        CommandRuntime::Options options;
        options.mailboxOptional = true;  // the relay never touches the mailbox
        auto fresh = std::make_unique<CommandRuntime>(options);
        if (!fresh->OpenMailbox()) return false;
        runtime_ = std::move(fresh);
        stamp_ = std::make_unique<Stamp>(now);
    }
    try {
        return runtime_->UnconnectedAddin().TestJ2Message(runtime_->Session().ParseMessage(message), false, true) !=
               MessageKind::mkOutgoing;
    } catch (...) {
        return false;
    }
}

}  // namespace vexa::cli
