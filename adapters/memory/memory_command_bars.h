// The memory host's command bars: bars that read back what was set, buttons with their Click
// event. New bars start hidden, as the host creates them; temporary bars go when their window
// closes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "adapters/memory/memory_faults.h"
#include "host/command_bars.h"

namespace vexa::memory {

class MemoryButton final : public CommandBarButton, public std::enable_shared_from_this<MemoryButton> {
public:
    MemoryButton(std::shared_ptr<FaultPlan> faults, bool temporary)
        : faults_(std::move(faults)), temporary_(temporary) {}

    Subscription Advise(CommandBarButtonEvents& sink) override;
    std::int32_t Style() override { return style_; }
    void SetStyle(std::int32_t style) override { Set(style_, style); }
    std::int32_t FaceId() override { return faceId_; }
    void SetFaceId(std::int32_t faceId) override { Set(faceId_, faceId); }
    std::string Caption() override { return caption_; }
    void SetCaption(const std::string& caption) override { Set(caption_, caption); }
    std::string TooltipText() override { return tooltip_; }
    void SetTooltipText(const std::string& text) override { Set(tooltip_, text); }
    std::string Tag() override { return tag_; }
    void SetTag(const std::string& tag) override { Set(tag_, tag); }
    bool Enabled() override { return enabled_; }
    void SetEnabled(bool enabled) override { Set(enabled_, enabled); }

    // A temporary button goes when the host closes, as its bar does.
    bool Temporary() const { return temporary_; }
    // The user clicks the button; returns the CancelDefault that the handlers left.
    bool Click();
    std::size_t ClickSubscribers() const { return click_.SubscriberCount(); }

private:
    template <class T, class V>
    void Set(T& field, const V& value) {
        faults_->Check(HostOp::ButtonSetProperty);
        field = value;
    }

    std::shared_ptr<FaultPlan> faults_;
    bool temporary_;
    std::int32_t style_ = 0;
    std::int32_t faceId_ = 0;
    std::string caption_;
    std::string tooltip_;
    std::string tag_;
    bool enabled_ = true;
    EventSource<CommandBarButtonEvents> click_;
};

class MemoryCommandBar final : public CommandBar, public std::enable_shared_from_this<MemoryCommandBar> {
public:
    MemoryCommandBar(std::shared_ptr<FaultPlan> faults, std::string name, std::int32_t position, std::int32_t rowIndex,
                     bool temporary);

    std::string Name() override { return name_; }
    std::int32_t Top() override;
    void SetTop(std::int32_t top) override;
    std::int32_t Left() override;
    void SetLeft(std::int32_t left) override;
    std::int32_t Position() override;
    void SetPosition(std::int32_t position) override;
    std::int32_t RowIndex() override;
    void SetRowIndex(std::int32_t rowIndex) override;
    bool Visible() override;
    void SetVisible(bool visible) override;
    CommandBarControlsPtr Controls() override;

    bool Temporary() const { return temporary_; }
    // The bar's place as the user sees it, read without going through the host's calls.
    struct Place {
        std::int32_t top, left, position, rowIndex;
        bool visible;
        bool operator==(const Place&) const = default;
    };
    Place Now() const { return {top_, left_, position_, rowIndex_, visible_}; }
    // The buttons in their order on the bar.
    const std::vector<std::shared_ptr<MemoryButton>>& Buttons() const { return buttons_; }
    std::shared_ptr<MemoryButton> AddButton(bool temporary);

    // The user drags the bar: the host changes its place without the add-in.
    void MoveTo(std::int32_t position, std::int32_t top, std::int32_t left, std::int32_t rowIndex);

private:
    std::shared_ptr<FaultPlan> faults_;
    std::string name_;
    std::int32_t top_ = 0;
    std::int32_t left_ = 0;
    std::int32_t position_;
    std::int32_t rowIndex_;
    bool visible_ = false;
    bool temporary_;
    std::vector<std::shared_ptr<MemoryButton>> buttons_;
};

class MemoryCommandBars final : public CommandBars {
public:
    explicit MemoryCommandBars(std::shared_ptr<FaultPlan> faults) : faults_(std::move(faults)) {}

    CommandBarPtr Add(const std::string& name, std::int32_t position, bool menuBar, bool temporary) override;

    const std::vector<std::shared_ptr<MemoryCommandBar>>& Bars() const { return bars_; }
    // The bar of that name, or null.
    std::shared_ptr<MemoryCommandBar> Find(const std::string& name) const;
    void DiscardTemporaryBars();

private:
    std::shared_ptr<FaultPlan> faults_;
    std::vector<std::shared_ptr<MemoryCommandBar>> bars_;
};

}  // namespace vexa::memory
