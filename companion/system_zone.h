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
#include "companion/finding.h"

namespace qtk::companion {

// The report group whose user rows the system's zone is set beside.
inline constexpr std::string_view kTrustedSitesGroup = "trusted_sites";

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

struct ZoneComparison {
    std::wstring target;  // the site's caption
    std::wstring url;     // what the zone manager was asked
    bool asked = false;
    std::optional<std::uint32_t> system_zone;
    bool compared = false;  // a zone came back and our own reading decided
    bool disagreement = false;
    std::wstring note;  // why not asked, the error, or what disagrees
};

// user_findings: the trusted-site examination's user column, one per site in table order.
std::vector<ZoneComparison> CompareWithSystemZones(const std::vector<Finding>& user_findings,
                                                   ZoneMapper& mapper, const ExaminedUser& user);

// The comparison as details of the row that carries the site's user verdict:
// "system_zone", "system_zone_url", "zone_disagreement" and "system_zone_note".
void AddZoneDetails(const ZoneComparison& comparison, CheckResult* row);

// "https://tesk.qrn.example: <what disagrees>" lines for the summary, one per
// disagreement, in table order.
std::vector<std::wstring> DisagreementLines(const std::vector<ZoneComparison>& comparisons);

// The report's way in: for each trusted site, its user row in `rows` (group
// "trusted_sites", scope user, the site's caption as target) gives our verdict, and gets
// Windows' answer as details. Rows of other groups are left as they are.
std::vector<ZoneComparison> AddSystemZones(std::vector<CheckResult>& rows, ZoneMapper& mapper,
                                           const ExaminedUser& user);

// The summary's paragraph on the rows marked as disagreements; empty when there are none.
std::wstring ZoneDisagreementText(const std::vector<CheckResult>& rows);

}  // namespace qtk::companion
