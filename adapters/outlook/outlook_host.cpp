#include "adapters/outlook/outlook_host.h"

#include "adapters/outlook/com_events.h"
#include "adapters/outlook/outlook_mail.h"
#include "host/host_error.h"

namespace vexa::outlook {
namespace {

// Every adapted object keeps its Outlook object, so it can be handed back to Outlook.
class Adapted {
public:
    explicit Adapted(ComPtr<IDispatch> object) : object_(std::move(object)) {}
    virtual ~Adapted() = default;
    const LateBound& Bound() const { return object_; }

private:
    LateBound object_;
};

template <class T>
std::shared_ptr<T> Wrap(const Variant& value) {
    const ComPtr<IDispatch> object = value.AsObject();
    if (!object) return nullptr;
    return std::make_shared<T>(object);
}

class OutlookItem final : public Item, public Adapted {
public:
    using Adapted::Adapted;
    std::int32_t Class() override { return Bound().Get(L"Class").AsInt32(); }
    std::optional<bool> UnRead() override {
        const Variant unread = Bound().Get(L"UnRead");
        if (unread.Raw().vt == VT_NULL || unread.Raw().vt == VT_EMPTY) return std::nullopt;
        return unread.AsBool();
    }
};

class OutlookItems final : public Items, public Adapted {
public:
    using Adapted::Adapted;
    Subscription Advise(ItemsEvents& sink) override {
        return AdviseEvents(Bound().Object(), kIidItemsEvents, [&sink](DISPID id, DISPPARAMS& params) {
            if (id == kDispidItemAdd && params.cArgs == 1) sink.ItemAdd(WrapItem(params.rgvarg[0].pdispVal));
        });
    }
    std::int32_t Count() override { return Bound().Get(L"Count").AsInt32(); }
    ItemPtr Item(std::int16_t index) override {
        return WrapItem(Bound().Call(L"Item", {Variant::Int16(index)}).AsObject().Get());
    }
};

class OutlookFolder;

class OutlookFolders final : public Folders, public Adapted {
public:
    using Adapted::Adapted;
    std::int32_t Count() override { return Bound().Get(L"Count").AsInt32(); }
    MAPIFolderPtr Item(const std::string& name) override;
    MAPIFolderPtr Add(const std::string& name) override;
};

class OutlookFolder final : public MAPIFolder, public Adapted {
public:
    using Adapted::Adapted;
    std::string Name() override { return Bound().Get(L"Name").AsText(); }
    ItemsPtr Items() override { return Wrap<OutlookItems>(Bound().Get(L"Items")); }
    FoldersPtr Folders() override { return Wrap<OutlookFolders>(Bound().Get(L"Folders")); }
};

MAPIFolderPtr OutlookFolders::Item(const std::string& name) {
    return Wrap<OutlookFolder>(Bound().Call(L"Item", {Variant::Text(name)}));
}

MAPIFolderPtr OutlookFolders::Add(const std::string& name) {
    return Wrap<OutlookFolder>(Bound().Call(L"Add", {Variant::Text(name)}));
}

class OutlookNameSpace final : public NameSpace, public Adapted {
public:
    using Adapted::Adapted;
    MAPIFolderPtr GetDefaultFolder(std::int32_t folderType) override {
        return Wrap<OutlookFolder>(Bound().Call(L"GetDefaultFolder", {Variant::Int32(folderType)}));
    }
};

class OfficeButton final : public CommandBarButton, public Adapted, public std::enable_shared_from_this<OfficeButton> {
public:
    using Adapted::Adapted;
    Subscription Advise(CommandBarButtonEvents& sink) override {
        std::weak_ptr<OfficeButton> self = weak_from_this();
        return AdviseEvents(Bound().Object(), kIidCommandBarButtonEvents, [&sink, self](DISPID id, DISPPARAMS& params) {
            if (id != kDispidClick || params.cArgs != 2) return;
            // Click (Ctrl, CancelDefault): the flag comes by reference and goes back the same way.
            VARIANT& flag = params.rgvarg[0];
            bool cancelDefault = (flag.vt == (VT_BOOL | VT_BYREF)) && *flag.pboolVal != VARIANT_FALSE;
            sink.Click(self.lock(), cancelDefault);
            if (flag.vt == (VT_BOOL | VT_BYREF)) *flag.pboolVal = cancelDefault ? VARIANT_TRUE : VARIANT_FALSE;
        });
    }
    std::int32_t Style() override { return Bound().Get(L"Style").AsInt32(); }
    void SetStyle(std::int32_t style) override { Bound().Put(L"Style", Variant::Int32(style)); }
    std::int32_t FaceId() override { return Bound().Get(L"FaceId").AsInt32(); }
    void SetFaceId(std::int32_t faceId) override { Bound().Put(L"FaceId", Variant::Int32(faceId)); }
    std::string Caption() override { return Bound().Get(L"Caption").AsText(); }
    void SetCaption(const std::string& caption) override { Bound().Put(L"Caption", Variant::Text(caption)); }
    std::string TooltipText() override { return Bound().Get(L"TooltipText").AsText(); }
    void SetTooltipText(const std::string& text) override { Bound().Put(L"TooltipText", Variant::Text(text)); }
    std::string Tag() override { return Bound().Get(L"Tag").AsText(); }
    void SetTag(const std::string& tag) override { Bound().Put(L"Tag", Variant::Text(tag)); }
    bool Enabled() override { return Bound().Get(L"Enabled").AsBool(); }
    void SetEnabled(bool enabled) override { Bound().Put(L"Enabled", Variant::Bool(enabled)); }
};

// An optional argument left out, as automation passes it.
Variant Missing() {
    Variant missing;
    missing.Raw().vt = VT_ERROR;
    missing.Raw().scode = DISP_E_PARAMNOTFOUND;
    return missing;
}

class OfficeControls final : public CommandBarControls, public Adapted {
public:
    using Adapted::Adapted;
    std::int32_t Count() override { return Bound().Get(L"Count").AsInt32(); }
    CommandBarControlPtr Add(std::int32_t type, std::optional<std::int32_t> id, std::optional<std::string> parameter,
                             std::optional<std::int32_t> before, bool temporary) override {
        return Wrap<OfficeButton>(Bound().Call(
            L"Add", {Variant::Int32(type), id ? Variant::Int32(*id) : Missing(),
                     parameter ? Variant::Text(*parameter) : Missing(), before ? Variant::Int32(*before) : Missing(),
                     Variant::Bool(temporary)}));
    }
};

class OfficeCommandBar final : public CommandBar, public Adapted {
public:
    using Adapted::Adapted;
    std::string Name() override { return Bound().Get(L"Name").AsText(); }
    std::int32_t Top() override { return Bound().Get(L"Top").AsInt32(); }
    void SetTop(std::int32_t value) override { Bound().Put(L"Top", Variant::Int32(value)); }
    std::int32_t Left() override { return Bound().Get(L"Left").AsInt32(); }
    void SetLeft(std::int32_t value) override { Bound().Put(L"Left", Variant::Int32(value)); }
    std::int32_t Position() override { return Bound().Get(L"Position").AsInt32(); }
    void SetPosition(std::int32_t value) override { Bound().Put(L"Position", Variant::Int32(value)); }
    std::int32_t RowIndex() override { return Bound().Get(L"RowIndex").AsInt32(); }
    void SetRowIndex(std::int32_t value) override { Bound().Put(L"RowIndex", Variant::Int32(value)); }
    bool Visible() override { return Bound().Get(L"Visible").AsBool(); }
    void SetVisible(bool visible) override { Bound().Put(L"Visible", Variant::Bool(visible)); }
    CommandBarControlsPtr Controls() override { return Wrap<OfficeControls>(Bound().Get(L"Controls")); }
};

class OfficeCommandBars final : public CommandBars, public Adapted {
public:
    using Adapted::Adapted;
    CommandBarPtr Add(const std::string& name, std::int32_t position, bool menuBar, bool temporary) override {
        return Wrap<OfficeCommandBar>(Bound().Call(
            L"Add", {Variant::Text(name), Variant::Int32(position), Variant::Bool(menuBar), Variant::Bool(temporary)}));
    }
};

class OutlookSelection final : public Selection, public Adapted {
public:
    using Adapted::Adapted;
    std::int32_t Count() override { return Bound().Get(L"Count").AsInt32(); }
    ItemPtr Item(std::int16_t index) override {
        return WrapItem(Bound().Call(L"Item", {Variant::Int16(index)}).AsObject().Get());
    }
};

class OutlookExplorer final : public Explorer, public Adapted {
public:
    using Adapted::Adapted;
    Subscription Advise(ExplorerEvents& sink) override {
        return AdviseEvents(Bound().Object(), kIidExplorerEvents, [&sink](DISPID id, DISPPARAMS&) {
            if (id == kDispidExplorerClose) sink.Close();
        });
    }
    CommandBarsPtr CommandBars() override { return Wrap<OfficeCommandBars>(Bound().Get(L"CommandBars")); }
    SelectionPtr Selection() override { return Wrap<OutlookSelection>(Bound().Get(L"Selection")); }
};

class OutlookApplication final : public Application, public Adapted {
public:
    using Adapted::Adapted;
    Subscription Advise(ApplicationEvents& sink) override {
        return AdviseEvents(Bound().Object(), kIidApplicationEvents, [&sink](DISPID id, DISPPARAMS& params) {
            if (id != kDispidItemSend || params.cArgs != 2) return;
            // ItemSend (Item, Cancel): arguments arrive last to first; Cancel goes back by reference.
            VARIANT& flag = params.rgvarg[0];
            bool cancel = (flag.vt == (VT_BOOL | VT_BYREF)) && *flag.pboolVal != VARIANT_FALSE;
            sink.ItemSend(WrapItem(params.rgvarg[1].pdispVal), cancel);
            if (flag.vt == (VT_BOOL | VT_BYREF)) *flag.pboolVal = cancel ? VARIANT_TRUE : VARIANT_FALSE;
        });
    }
    NameSpacePtr GetNamespace(const std::string& type) override {
        return Wrap<OutlookNameSpace>(Bound().Call(L"GetNamespace", {Variant::Text(type)}));
    }
    ExplorerPtr ActiveExplorer() override { return Wrap<OutlookExplorer>(Bound().Call(L"ActiveExplorer")); }
    NameSpacePtr Session() override { return Wrap<OutlookNameSpace>(Bound().Get(L"Session")); }
};

// An object that is not Outlook's application: the add-in's start-up refuses it.
class OtherObject final : public Object, public Adapted {
public:
    using Adapted::Adapted;
};

}  // namespace

ItemPtr WrapItem(IDispatch* item) {
    if (!item) return nullptr;
    auto object = ComPtr<IDispatch>::Retain(item);
    try {
        if (LateBound(object).Get(L"Class").AsInt32() == kOlMail) return WrapMailItem(item);
    } catch (const HostError&) {
        // The handler reads Class itself and reports what fails.
    }
    return std::make_shared<OutlookItem>(object);
}

ObjectPtr WrapApplication(IDispatch* application) {
    if (!application) return nullptr;
    auto object = ComPtr<IDispatch>::Retain(application);
    // Outlook's application object answers for its own Class: 0 (olApplication).
    try {
        if (LateBound(object).Get(L"Class").AsInt32() == 0) return std::make_shared<OutlookApplication>(object);
    } catch (const HostError&) {
    }
    return std::make_shared<OtherObject>(object);
}

ApplicationPtr HandedOverApplication::CreateApplication() {
    if (!offered_) throw HostError(429, "ActiveX component can't create object");
    return As<Application>(WrapApplication(offered_));
}

IDispatch* DispatchOf(const ObjectPtr& object) {
    if (const auto* mail = dynamic_cast<OutlookMailItem*>(object.get())) return mail->Dispatch();
    if (const auto* adapted = dynamic_cast<Adapted*>(object.get())) return adapted->Bound().Object();
    return nullptr;
}

}  // namespace vexa::outlook
