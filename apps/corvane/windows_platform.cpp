#include "apps/corvane/windows_platform.h"

#include "adapters/outlook/com_support.h"
#include "adapters/outlook/outlook_host.h"
#include "adapters/outlook/outlook_mail.h"

namespace vexa::com {

WindowsPlatform::WindowsPlatform(AddinModule& module) : module_(module) {}

WindowsPlatform::~WindowsPlatform() = default;

Platform WindowsPlatform::Bundle() {
    return Platform{module_, registry_, paths_, settings_, archive_, files_, messages_, dialogs_, safeMailItems_, shell_};
}

ObjectPtr WindowsPlatform::HostObject(IDispatch* object) { return outlook::WrapApplication(object); }

MailItemPtr WindowsPlatform::MailItem(IDispatch** object) { return object ? outlook::WrapMailItem(*object) : nullptr; }

}  // namespace vexa::com
