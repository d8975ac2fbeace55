#include "adapters/memory/memory_command_bars.h"

#include <algorithm>

namespace vexa::memory {
namespace {

// Docked bars stack in rows of this height; a floating bar starts at a fixed place on screen.
constexpr std::int32_t kRowHeight = 26;
constexpr std::int32_t kFloatingTop = 150;
constexpr std::int32_t kFloatingLeft = 200;

HostError MethodFailed(const std::string& method) {
    return HostError(static_cast<std::int32_t>(0x80004005u), "Method '" + method + "' of object 'CommandBar' failed");
}

class MemoryControls final : public CommandBarControls {
public:
    MemoryControls(std::shared_ptr<FaultPlan> faults, std::shared_ptr<MemoryCommandBar> bar)
        : faults_(std::move(faults)), bar_(std::move(bar)) {}

    std::int32_t Count() override { return static_cast<std::int32_t>(bar_->Buttons().size()); }
    CommandBarControlPtr Add(std::int32_t type, std::optional<std::int32_t> id, std::optional<std::string> /*parameter*/,
                             std::optional<std::int32_t> before, bool temporary) override {
        faults_->Check(HostOp::ControlsAdd);
        // Only plain custom buttons appended at the end are simulated.
        if (type != kMsoControlButton || id || before) throw HostError(static_cast<std::int32_t>(0x80070057u),
                                                                       "The parameter is incorrect.");
        return bar_->AddButton(temporary);
    }

private:
    std::shared_ptr<FaultPlan> faults_;
    std::shared_ptr<MemoryCommandBar> bar_;
};

}  // namespace

Subscription MemoryButton::Advise(CommandBarButtonEvents& sink) {
    faults_->Check(HostOp::AdviseButton);
    return click_.Advise(sink);
}

bool MemoryButton::Click() {
    auto self = shared_from_this();
    bool cancelDefault = false;
    click_.Raise([&](CommandBarButtonEvents& sink) { sink.Click(self, cancelDefault); });
    return cancelDefault;
}

MemoryCommandBar::MemoryCommandBar(std::shared_ptr<FaultPlan> faults, std::string name, std::int32_t position,
                                   std::int32_t rowIndex, bool temporary)
    : faults_(std::move(faults)), name_(std::move(name)), position_(position), rowIndex_(rowIndex),
      temporary_(temporary) {
    if (position == kMsoBarFloating) {
        top_ = kFloatingTop;
        left_ = kFloatingLeft;
    } else if (position == kMsoBarTop) {
        top_ = (rowIndex - 1) * kRowHeight;
    }
}

std::int32_t MemoryCommandBar::Top() {
    faults_->Check(HostOp::BarGetProperty);
    return top_;
}
void MemoryCommandBar::SetTop(std::int32_t top) {
    faults_->Check(HostOp::BarSetTop);
    top_ = top;
}
std::int32_t MemoryCommandBar::Left() {
    faults_->Check(HostOp::BarGetProperty);
    return left_;
}
void MemoryCommandBar::SetLeft(std::int32_t left) {
    faults_->Check(HostOp::BarSetLeft);
    left_ = left;
}
std::int32_t MemoryCommandBar::Position() {
    faults_->Check(HostOp::BarGetProperty);
    return position_;
}
void MemoryCommandBar::SetPosition(std::int32_t position) {
    faults_->Check(HostOp::BarSetPosition);
    if (position < kMsoBarLeft || position > kMsoBarFloating) throw MethodFailed("Position");
    position_ = position;
}
std::int32_t MemoryCommandBar::RowIndex() {
    faults_->Check(HostOp::BarGetProperty);
    return rowIndex_;
}
void MemoryCommandBar::SetRowIndex(std::int32_t rowIndex) {
    faults_->Check(HostOp::BarSetRowIndex);
    rowIndex_ = rowIndex;
}
bool MemoryCommandBar::Visible() {
    faults_->Check(HostOp::BarGetProperty);
    return visible_;
}
void MemoryCommandBar::SetVisible(bool visible) {
    faults_->Check(HostOp::BarSetVisible);
    visible_ = visible;
}

CommandBarControlsPtr MemoryCommandBar::Controls() {
    faults_->Check(HostOp::BarControls);
    return std::make_shared<MemoryControls>(faults_, shared_from_this());
}

std::shared_ptr<MemoryButton> MemoryCommandBar::AddButton(bool temporary) {
    auto button = std::make_shared<MemoryButton>(faults_, temporary);
    buttons_.push_back(button);
    return button;
}

void MemoryCommandBar::MoveTo(std::int32_t position, std::int32_t top, std::int32_t left, std::int32_t rowIndex) {
    position_ = position;
    top_ = top;
    left_ = left;
    rowIndex_ = rowIndex;
}

CommandBarPtr MemoryCommandBars::Add(const std::string& name, std::int32_t position, bool menuBar, bool temporary) {
    faults_->Check(HostOp::CommandBarsAdd);
    if (position < kMsoBarLeft || position > kMsoBarFloating || menuBar) {
        throw HostError(static_cast<std::int32_t>(0x80070057u), "The parameter is incorrect.");
    }
    // A bar docked at the top goes into a new row below the rows in use.
    const auto rowsInUse = std::count_if(bars_.begin(), bars_.end(),
                                         [&](const auto& bar) { return bar->Now().position == position; });
    auto bar = std::make_shared<MemoryCommandBar>(faults_, name, position, static_cast<std::int32_t>(rowsInUse) + 1,
                                                  temporary);
    bars_.push_back(bar);
    return bar;
}

std::shared_ptr<MemoryCommandBar> MemoryCommandBars::Find(const std::string& name) const {
    for (const auto& bar : bars_) {
        if (bar->Name() == name) return bar;
    }
    return nullptr;
}

void MemoryCommandBars::DiscardTemporaryBars() {
    std::erase_if(bars_, [](const auto& bar) { return bar->Temporary(); });
}

}  // namespace vexa::memory
