#include "apps/corvane/windows_platform.h"

#include "apps/corvane/com_support.h"
#include "apps/corvane/outlook_mail.h"

namespace vexa::com {
namespace {

// An object from Outlook that the core holds but cannot use yet.
class ForeignObject final : public Object {
public:
    explicit ForeignObject(IDispatch* object) : object_(ComPtr<IDispatch>::Retain(object)) {}

private:
    ComPtr<IDispatch> object_;
};

HostError NotInThisBuild(const char* what) {
    return HostError(static_cast<std::int32_t>(E_NOTIMPL), std::string(what) + " is not part of this build.");
}

}  // namespace

class WindowsPlatform::NotYetAvailable final : public ApplicationFactory,
                                                public ArchiveEngine,
                                                public DialogToolkit {
public:
    ApplicationPtr CreateApplication() override { throw NotInThisBuild("Driving Outlook's object model"); }
    std::unique_ptr<ArchiveConnection> Open(const std::string&) override {
        throw NotInThisBuild("The archive engine for Corvane.mdb");
    }
    void ShowModal(DialogForm&) override { throw NotInThisBuild("The add-in's dialogs"); }
};

WindowsPlatform::WindowsPlatform()
    : missing_(std::make_unique<NotYetAvailable>()), module_(std::make_unique<AddinModule>(*missing_)) {}

WindowsPlatform::~WindowsPlatform() = default;

Platform WindowsPlatform::Bundle() {
    return Platform{*module_, registry_, paths_, settings_, *missing_, files_, messages_, *missing_, safeMailItems_, shell_};
}

ObjectPtr WindowsPlatform::HostObject(IDispatch* object) {
    if (!object) return nullptr;
    return std::make_shared<ForeignObject>(object);
}

MailItemPtr WindowsPlatform::MailItem(IDispatch** object) { return object ? WrapMailItem(*object) : nullptr; }

}  // namespace vexa::com
