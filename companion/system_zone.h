// Windows' own answer beside ours: the zone the system's zone manager
// (IInternetSecurityManager::MapUrlToZone) gives each trusted site, compared with the
// companion's own reading of the user column.
//
// The system answers for the user it runs as, merging everything that user's browser would
// read (the user's and the machine's lists, policies, Enhanced Security Configuration), so:
// - it is asked only when the examined user is the process's own; under SYSTEM examining
//   the console user it would answer for SYSTEM, and the field is left out with that reason;
// - a disagreement with the user column is not always a fault of either: the user column
//   reads only HKCU (it shows where a site was set up) while the system also falls back to
//   HKLM. The report marks every disagreement and the summary lists them, so that a person
//   looks.
// A wildcard row is asked about a host directly below its domain that no list names
// ("https://any-host.qrn.example/"), which is what an entry for the whole domain decides.
//
// Source: "IInternetSecurityManager::MapUrlToZone method",
// https://learn.microsoft.com/en-us/previous-versions/windows/internet-explorer/ie-developer/platform-apis/ms537133(v=vs.85)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks/tables.h"
#include "companion/check_result.h"

namespace qtk::companion {

struct ZoneAnswer {
    std::optional<std::uint32_t> zone;
    std::wstring error;  // when there is no zone: why, for a person
};

class ZoneMapper {
public:
    virtual ~ZoneMapper() = default;
    virtual ZoneAnswer MapUrlToZone(const std::wstring& url) = 0;
};

std::wstring ZoneProbeUrl(const TrustedSite& site);

// "2 (Trusted sites)".
std::wstring ZoneText(std::uint32_t zone);

// Windows' answer for one site, set beside the user row whose own reading gave ours.
SystemZone AskSystemZone(const TrustedSite& site, RowVerdict ours, ZoneMapper& mapper,
                         const ExaminedUser& user);

// The summary's paragraph on the rows whose system zone disagrees with them; empty when
// there are none.
std::wstring ZoneDisagreementText(const std::vector<CheckResult>& rows);

}  // namespace qtk::companion
