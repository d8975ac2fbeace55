#include "apps/corvane/windows_platform.h"

#include "apps/corvane/com_support.h"
#include "apps/corvane/outlook_host.h"
#include "apps/corvane/outlook_mail.h"

namespace vexa::com {
namespace {

HostError NotInThisBuild(const char* what) {
    return HostError(static_cast<std::int32_t>(E_NOTIMPL), std::string(what) + " is not part of this build.");
}

}  // namespace

class WindowsPlatform::NotYetAvailable final : public DialogToolkit {
public:
    void ShowModal(DialogForm&) override { throw NotInThisBuild("The add-in's dialogs"); }
};

WindowsPlatform::WindowsPlatform()
    : missing_(std::make_unique<NotYetAvailable>()), module_(std::make_unique<AddinModule>(outlook_)) {}

WindowsPlatform::~WindowsPlatform() = default;

Platform WindowsPlatform::Bundle() {
    return Platform{*module_, registry_, paths_, settings_, archive_, files_, messages_, *missing_, safeMailItems_, shell_};
}

ObjectPtr WindowsPlatform::HostObject(IDispatch* object) { return WrapApplication(object); }

MailItemPtr WindowsPlatform::MailItem(IDispatch** object) { return object ? WrapMailItem(*object) : nullptr; }

}  // namespace vexa::com
