// The mail-item wrapper "CVMAPI.SafeMailItem" created by ProgID from the registered Corvane.dll and
// driven by name, over a scripted stand-in for Outlook's mail item.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "adapters/outlook/dispatch_object.h"
#include "adapters/outlook/late_bound.h"

namespace vexa::com {
namespace {

using namespace vexa::outlook;

// An object whose members are answered by functions, as Outlook's objects would answer.
class Scripted final : public DispatchObject {
public:
    using Function = std::function<Variant(const std::vector<const VARIANT*>&)>;
    explicit Scripted(std::vector<std::pair<const wchar_t*, Function>> members) : table_(std::move(members)) {
        for (const auto& member : table_) names_.push_back(member.first);
    }

protected:
    const std::vector<const wchar_t*>& Members() const override { return names_; }
    Variant Answer(DISPID id, WORD, const std::vector<const VARIANT*>& arguments) override {
        return table_[static_cast<std::size_t>(id - 1)].second(arguments);
    }

private:
    std::vector<std::pair<const wchar_t*, Scripted::Function>> table_;
    std::vector<const wchar_t*> names_;
};

ComPtr<IDispatch> Make(std::vector<std::pair<const wchar_t*, Scripted::Function>> members) {
    return ComPtr<IDispatch>::Adopt(DispatchObject::Create<Scripted>(std::move(members)));
}

Scripted::Function Text(std::string text) {
    return [text](const auto&) { return Variant::Text(text); };
}

Scripted::Function Object(ComPtr<IDispatch> object) {
    return [object](const auto&) { return Variant::Object(object.Get()); };
}

// An Exchange address entry; `smtp` empty means an Outlook without GetExchangeUser.
ComPtr<IDispatch> ExchangeEntry(const std::string& smtp) {
    if (smtp.empty()) return Make({{L"Type", Text("EX")}});
    return Make({{L"Type", Text("EX")},
                 {L"GetExchangeUser", Object(Make({{L"PrimarySmtpAddress", Text(smtp)}}))}});
}

class SafeMailItem : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitialize(nullptr);
        module_ = ::LoadLibraryW(L"Corvane.dll");
        ASSERT_NE(module_, nullptr);
        ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    }
    void TearDown() override {
        Call("DllUnregisterServer");
        ::FreeLibrary(module_);
        ::CoUninitialize();
    }
    HRESULT Call(const char* entry) {
        auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(::GetProcAddress(module_, entry)));
        return function ? function() : E_NOTIMPL;
    }
    LateBound Wrapper(ComPtr<IDispatch> item) {
        CLSID clsid{};
        EXPECT_EQ(::CLSIDFromProgID(L"CVMAPI.SafeMailItem", &clsid), S_OK);
        ComPtr<IDispatch> wrapper;
        EXPECT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(wrapper.Put())),
                  S_OK);
        LateBound bound(wrapper);
        bound.Put(L"Item", Variant::Object(item.Get()));
        return bound;
    }
    HMODULE module_ = nullptr;
};

TEST_F(SafeMailItem, SenderAddressOrNothing) {
    const struct {
        const char* name;
        ComPtr<IDispatch> item;
        const char* expected;  // nullptr: Nothing
    } cases[] = {
        {"internet sender",
         Make({{L"SenderEmailAddress", Text("message@inbound.efax.com")}, {L"SenderEmailType", Text("SMTP")}}),
         "message@inbound.efax.com"},
        {"no sender", Make({{L"SenderEmailAddress", Text("")}}), nullptr},
        {"Exchange sender",
         Make({{L"SenderEmailAddress", Text("/O=EXAMPLE/CN=ANN")},
               {L"SenderEmailType", Text("EX")},
               {L"Sender", Object(ExchangeEntry("ann@example.org"))}}),
         "ann@example.org"},
        {"Exchange sender, older Outlook",
         Make({{L"SenderEmailAddress", Text("/O=EXAMPLE/CN=ANN")}, {L"SenderEmailType", Text("EX")}}),
         "/O=EXAMPLE/CN=ANN"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Variant sender = Wrapper(c.item).Get(L"Sender");
        if (!c.expected) {
            EXPECT_TRUE(sender.IsNothing());
        } else {
            EXPECT_EQ(LateBound(sender.AsObject()).Get(L"Address").AsText(), c.expected);
        }
    }
}

TEST_F(SafeMailItem, RecipientsCountFromOne) {
    VARTYPE indexType = VT_EMPTY;
    const auto recipient = [](const char* address, ComPtr<IDispatch> entry) {
        return Make({{L"Address", Text(address)}, {L"AddressEntry", Object(std::move(entry))}});
    };
    const std::vector<ComPtr<IDispatch>> people = {
        recipient("12125551234@efaxsend.com", Make({{L"Type", Text("SMTP")}})),
        recipient("/O=EXAMPLE/CN=BOB", ExchangeEntry("bob@example.org")),
    };
    const auto recipients = Make({{L"Count", [&](const auto&) { return Variant::Int32(2); }},
                                  {L"Item", [&](const std::vector<const VARIANT*>& arguments) {
                                       indexType = arguments.at(0)->vt;
                                       return Variant::Object(people.at(arguments.at(0)->iVal - 1).Get());
                                   }}});
    const LateBound wrapper = Wrapper(Make({{L"Recipients", Object(recipients)}}));
    const LateBound list(wrapper.Get(L"Recipients").AsObject());
    EXPECT_EQ(list.Get(L"Count").AsInt32(), 2);
    EXPECT_EQ(LateBound(list.Call(L"Item", {Variant::Int16(1)}).AsObject()).Get(L"Address").AsText(),
              "12125551234@efaxsend.com");
    EXPECT_EQ(indexType, VT_I2);  // Outlook's collections are indexed by 16-bit integers
    EXPECT_EQ(LateBound(list.Call(L"Item", {Variant::Int16(2)}).AsObject()).Get(L"Address").AsText(),
              "bob@example.org");
}

// Calls one of the add-in's address methods by name, handing the item by reference as callers do.
std::string AddressOf(const LateBound& addin, const wchar_t* method, ComPtr<IDispatch> item) {
    IDispatch* raw = item.Get();
    Variant reference;
    reference.Raw().vt = VT_DISPATCH | VT_BYREF;
    reference.Raw().ppdispVal = &raw;
    std::string address = addin.Call(method, {reference}).AsText();
    reference.Raw().vt = VT_EMPTY;  // the slot is ours, not the variant's to free
    return address;
}

TEST_F(SafeMailItem, TheAddinReadsAddressesThroughTheWrapper) {
    CLSID clsid{};
    ASSERT_EQ(::CLSIDFromProgID(L"Corvane.Connect", &clsid), S_OK);
    ComPtr<IDispatch> object;
    ASSERT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                 reinterpret_cast<void**>(object.Put())),
              S_OK);
    const LateBound addin(object);

    const auto gateway = Make({{L"Address", Text("12125551234@efaxsend.com")},
                               {L"AddressEntry", Object(Make({{L"Type", Text("SMTP")}}))}});
    const auto recipients = Make({{L"Count", [](const auto&) { return Variant::Int32(1); }},
                                  {L"Item", Object(gateway)}});
    const auto replyRecipient = Make({{L"Address", Text("")},
                                      {L"AddressEntry", Object(Make({{L"Address", Text("reply@example.org")}}))},
                                      {L"Name", Text("Reply")}});
    const auto reply = Make({{L"Recipients", Object(Make({{L"Count", [](const auto&) { return Variant::Int32(1); }},
                                                           {L"Item", Object(replyRecipient)}}))}});
    const auto mail = Make({{L"SenderEmailAddress", Text("message@inbound.efax.com")},
                            {L"SenderEmailType", Text("SMTP")},
                            {L"Recipients", Object(recipients)},
                            {L"Reply", Object(reply)}});

    EXPECT_EQ(AddressOf(addin, L"GetSafeSenderAddress", mail), "message@inbound.efax.com");
    EXPECT_EQ(AddressOf(addin, L"GetSafeRecipientAddress", mail), "12125551234@efaxsend.com");
    EXPECT_EQ(AddressOf(addin, L"GetReplyToAddress", mail), "reply@example.org");
    // Without the wrapper registered, the add-in finds no address, silently.
    Call("DllUnregisterServer");
    EXPECT_EQ(AddressOf(addin, L"GetSafeSenderAddress", mail), "");
}

}  // namespace
}  // namespace vexa::com
