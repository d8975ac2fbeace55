// The archive on Windows: the Jet database "Corvane.mdb" through ActiveX Data Objects, late-bound,
// exactly as the add-in has always used it, so existing archives and the user's viewer keep
// working. Where the Jet provider is not registered (64-bit Office has none), the ACE provider
// opens the same file.
#pragma once

#include <oaidl.h>

#include <functional>
#include <memory>
#include <string>

#include "adapters/outlook/late_bound.h"
#include "archive/archive_engine.h"

namespace vexa::ado {

// ADO is reached by name the way Outlook is, with the same COM helpers.
using outlook::ComPtr;

class AdoArchiveEngine final : public ArchiveEngine {
public:
    // Creates an automation object by ProgID; the default asks COM.
    using Creator = std::function<ComPtr<IDispatch>(const std::wstring& progId)>;
    // Whether an OLE DB provider is registered; the default looks its ProgID up.
    using ProviderCheck = std::function<bool(const std::wstring& provider)>;

    AdoArchiveEngine();
    AdoArchiveEngine(Creator create, ProviderCheck registered);

    std::unique_ptr<ArchiveConnection> Open(const std::string& path) override;

    // The provider to use: Jet, else ACE 16.0, else ACE 12.0 (Jet's name when none is there, so
    // the failure names what the archive was made for).
    std::wstring Provider() const;

private:
    Creator create_;
    ProviderCheck registered_;
};

}  // namespace vexa::ado
