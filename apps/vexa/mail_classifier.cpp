#include "apps/vexa/mail_classifier.h"

#include <sys/stat.h>

#include <algorithm>

#include "adapters/posix/ini_settings_store.h"
#include "host/ascii_text.h"
#include "recognition/classification.h"

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

MailKind MailClassifier::Classify(const std::string& message, const std::vector<std::string>& envelope) {
    const std::lock_guard<std::mutex> hold(lock_);
    const Stamp now = Stamp::Now();
    if (!runtime_ || !stamp_ || !(*stamp_ == now)) {
        runtime_.reset();
        CommandRuntime::Options options;
        options.mailboxOptional = true;  // the relay never touches the mailbox
        auto fresh = std::make_unique<CommandRuntime>(options);
        if (!fresh->OpenMailbox()) return MailKind::Fax;
        runtime_ = std::move(fresh);
        stamp_ = std::make_unique<Stamp>(now);
    }
    try {
        Connect& addin = runtime_->UnconnectedAddin();
        const auto item = runtime_->Session().ParseMessage(message);
        AddEnvelopeOnlyRecipients(*item, envelope);
        const bool fax = addin.TestJ2Message(item, false, true) == MessageKind::mkOutgoing;
        const std::string& gateway = addin.Options().tOutCriteria.Text;
        const bool toGateway = std::any_of(envelope.begin(), envelope.end(),
                                           [&](const std::string& address) { return Contains(address, gateway); });
        if (fax) return toGateway ? MailKind::Fax : MailKind::Ordinary;
        return toGateway ? MailKind::UnrecordedFax : MailKind::Ordinary;
    } catch (...) {
        return MailKind::Fax;
    }
}

void AddEnvelopeOnlyRecipients(maildir::MaildirMailItem& item, const std::vector<std::string>& envelope) {
    const std::vector<maildir::MailAddress> named = item.RecipientAddresses();
    std::vector<maildir::MailAddress> blind;
    for (const std::string& address : envelope) {
        const auto same = [&](const maildir::MailAddress& one) { return EqualsIgnoringAsciiCase(one.address, address); };
        if (std::none_of(named.begin(), named.end(), same) && std::none_of(blind.begin(), blind.end(), same)) {
            blind.push_back({"", address});
        }
    }
    item.AddBlindRecipients(std::move(blind));
}

}  // namespace vexa::cli
