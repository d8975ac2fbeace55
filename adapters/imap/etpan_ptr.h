// Owning pointers over libetpan's objects, each freed by libetpan's own function for it. A clist
// is freed by the function of the command that produced it, so every kind of result has its type.
#pragma once

#include <libetpan/libetpan.h>

#include <memory>

namespace vexa::imap {

template <typename T, void (*Free)(T*)>
struct EtpanFree {
    void operator()(T* p) const noexcept {
        if (p != nullptr) Free(p);
    }
};
template <typename T, void (*Free)(T*)>
using EtpanPtr = std::unique_ptr<T, EtpanFree<T, Free>>;

using SessionPtr = EtpanPtr<mailimap, mailimap_free>;
inline void CloseStream(mailstream* s) { mailstream_close(s); }
using StreamPtr = EtpanPtr<mailstream, CloseStream>;
using SetPtr = EtpanPtr<mailimap_set, mailimap_set_free>;
using SearchKeyPtr = EtpanPtr<mailimap_search_key, mailimap_search_key_free>;
using FetchTypePtr = EtpanPtr<mailimap_fetch_type, mailimap_fetch_type_free>;
using FetchAttPtr = EtpanPtr<mailimap_fetch_att, mailimap_fetch_att_free>;
using HeaderListPtr = EtpanPtr<mailimap_header_list, mailimap_header_list_free>;
using SectionPtr = EtpanPtr<mailimap_section, mailimap_section_free>;
using FlagPtr = EtpanPtr<mailimap_flag, mailimap_flag_free>;
using FlagListPtr = EtpanPtr<mailimap_flag_list, mailimap_flag_list_free>;
using StoreFlagsPtr = EtpanPtr<mailimap_store_att_flags, mailimap_store_att_flags_free>;
using CapabilityPtr = EtpanPtr<mailimap_capability_data, mailimap_capability_data_free>;
using SearchResultPtr = EtpanPtr<clist, mailimap_search_result_free>;
using FetchResultPtr = EtpanPtr<clist, mailimap_fetch_list_free>;
using ListResultPtr = EtpanPtr<clist, mailimap_list_result_free>;
using NamespacePtr = EtpanPtr<mailimap_namespace_data, mailimap_namespace_data_free>;
using CertificateChainPtr = EtpanPtr<carray, mailstream_certificate_chain_free>;

}  // namespace vexa::imap
