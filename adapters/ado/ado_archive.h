// The archive on Windows: the Jet database "Corvane.mdb" through ActiveX Data Objects, late-bound,
// exactly as the add-in has always used it, so existing archives and the user's viewer keep
// working. Where Jet cannot open it (64-bit Office has no Jet), the ACE provider opens the same
// file.
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
    // Whether an OLE DB provider's name is known; the default looks its ProgID up. A known name
    // is only a candidate: Open moves on to the next provider when ADO cannot find its class.
    using ProviderCheck = std::function<bool(const std::wstring& provider)>;

    AdoArchiveEngine();
    AdoArchiveEngine(Creator create, ProviderCheck registered);

    // Opens with the first provider that ADO finds: Jet, else ACE 16.0, else ACE 12.0. Any other
    // failure (a missing or locked file) is that provider's; when none is found, the first
    // provider's failure is thrown.
    std::unique_ptr<ArchiveConnection> Open(const std::string& path) override;

private:
    std::unique_ptr<ArchiveConnection> OpenWith(const wchar_t* provider, const std::string& path);

    Creator create_;
    ProviderCheck registered_;
};

}  // namespace vexa::ado
