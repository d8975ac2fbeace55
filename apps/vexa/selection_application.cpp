#include "apps/vexa/selection_application.h"

#include "host/host_error.h"

namespace vexa::cli {
namespace {

class FixedSelection final : public Selection {
public:
    explicit FixedSelection(std::vector<ItemPtr> items) : items_(std::move(items)) {}
    std::int32_t Count() override { return static_cast<std::int32_t>(items_.size()); }
    ItemPtr Item(std::int16_t index) override {
        if (index < 1 || index > Count()) throw error::SubscriptOutOfRange();
        return items_[static_cast<std::size_t>(index - 1)];
    }

private:
    std::vector<ItemPtr> items_;
};

}  // namespace

class CommandLineWindow final : public Explorer {
public:
    explicit CommandLineWindow(std::vector<ItemPtr> items) : items_(std::move(items)) {}
    // Nobody closes this window while the command runs; shutdown releases it.
    Subscription Advise(ExplorerEvents& sink) override { return close_.Advise(sink); }
    CommandBarsPtr CommandBars() override { throw HostError(438, "A command line has no toolbar."); }
    SelectionPtr Selection() override { return std::make_shared<FixedSelection>(items_); }
    void Select(std::vector<ItemPtr> items) { items_ = std::move(items); }

private:
    std::vector<ItemPtr> items_;
    EventSource<ExplorerEvents> close_;
};

SelectionApplication::SelectionApplication(ApplicationPtr inner, std::vector<ItemPtr> selection)
    : inner_(std::move(inner)), window_(std::make_shared<CommandLineWindow>(std::move(selection))) {}

ExplorerPtr SelectionApplication::ActiveExplorer() { return window_; }

void SelectionApplication::Select(std::vector<ItemPtr> selection) { window_->Select(std::move(selection)); }

}  // namespace vexa::cli
