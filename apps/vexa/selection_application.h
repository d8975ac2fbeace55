// The convert command's stand-in for an explorer window: the host application as it is, except
// that its active "window" has the files named on the command line as its selection and no
// toolbar (the add-in's toolbar build stops there, silently, as on any host without one).
#pragma once

#include <vector>

#include "host/application.h"
#include "host/explorer.h"

namespace vexa::cli {

class SelectionApplication final : public Application {
public:
    SelectionApplication(ApplicationPtr inner, std::vector<ItemPtr> selection);

    Subscription Advise(ApplicationEvents& sink) override { return inner_->Advise(sink); }
    NameSpacePtr GetNamespace(const std::string& type) override { return inner_->GetNamespace(type); }
    ExplorerPtr ActiveExplorer() override { return explorer_; }
    NameSpacePtr Session() override { return inner_->Session(); }

private:
    ApplicationPtr inner_;
    ExplorerPtr explorer_;
};

}  // namespace vexa::cli
