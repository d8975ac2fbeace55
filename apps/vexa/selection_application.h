// The convert command's stand-in for an explorer window: the host application as it is, except
// that its active "window" has the messages named on the command line as its selection and no
// toolbar (the add-in's toolbar build stops there, silently, as on any host without one). The
// selection can change between clicks, so one connection converts file after file.
#pragma once

#include <memory>
#include <vector>

#include "host/application.h"
#include "host/explorer.h"

namespace vexa::cli {

class CommandLineWindow;

class SelectionApplication final : public Application {
public:
    SelectionApplication(ApplicationPtr inner, std::vector<ItemPtr> selection);

    Subscription Advise(ApplicationEvents& sink) override { return inner_->Advise(sink); }
    NameSpacePtr GetNamespace(const std::string& type) override { return inner_->GetNamespace(type); }
    ExplorerPtr ActiveExplorer() override;
    NameSpacePtr Session() override { return inner_->Session(); }

    // What the window shows as selected from now on.
    void Select(std::vector<ItemPtr> selection);

private:
    ApplicationPtr inner_;
    std::shared_ptr<CommandLineWindow> window_;
};

}  // namespace vexa::cli
