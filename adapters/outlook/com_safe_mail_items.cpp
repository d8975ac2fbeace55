#include "adapters/outlook/com_safe_mail_items.h"

#include <objbase.h>

#include "adapters/outlook/late_bound.h"
#include "adapters/outlook/outlook_mail.h"
#include "host/host_error.h"

namespace vexa::outlook {
namespace {

class WrappedAddress final : public SafeAddress {
public:
    explicit WrappedAddress(ComPtr<IDispatch> object) : object_(std::move(object)) {}
    std::string Address() override { return object_.Get(L"Address").AsText(); }

private:
    LateBound object_;
};

class AddressList final : public SafeRecipients {
public:
    explicit AddressList(ComPtr<IDispatch> object) : object_(std::move(object)) {}
    std::int32_t Count() override { return object_.Get(L"Count").AsInt32(); }
    std::shared_ptr<SafeAddress> Item(std::int16_t index) override {
        return std::make_shared<WrappedAddress>(object_.Call(L"Item", {Variant::Int16(index)}).AsObject());
    }

private:
    LateBound object_;
};

class Wrapper final : public SafeMailItem {
public:
    explicit Wrapper(ComPtr<IDispatch> object) : object_(std::move(object)) {}
    void SetItem(const MailItemPtr& item) override {
        const auto outlookItem = As<OutlookMailItem>(item);
        object_.Put(L"Item", Variant::Object(outlookItem ? outlookItem->Dispatch() : nullptr));
    }
    std::shared_ptr<SafeAddress> Sender() override {
        const ComPtr<IDispatch> sender = object_.Get(L"Sender").AsObject();
        if (!sender) return nullptr;
        return std::make_shared<WrappedAddress>(sender);
    }
    std::shared_ptr<SafeRecipients> Recipients() override {
        return std::make_shared<AddressList>(object_.Get(L"Recipients").AsObject());
    }

private:
    LateBound object_;
};

}  // namespace

std::shared_ptr<SafeMailItem> ComSafeMailItemFactory::Create(const std::string& progId) {
    const std::wstring name(progId.begin(), progId.end());
    CLSID clsid{};
    HRESULT result = ::CLSIDFromProgID(name.c_str(), &clsid);
    if (FAILED(result)) throw HostError(429, "ActiveX component can't create object");
    ComPtr<IDispatch> object;
    result = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(object.Put()));
    if (FAILED(result)) throw HostError(429, "ActiveX component can't create object");
    return std::make_shared<Wrapper>(object);
}

}  // namespace vexa::outlook
