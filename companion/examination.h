// The whole examination and what it leaves in C:\tmptk\: one marker per check row, the
// OS-version file, and the clean-up script that removes them all again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks/tables.h"
#include "companion/finding.h"
#include "companion/check_result.h"
#include "companion/ie_mode.h"
#include "companion/registry_source.h"
#include "companion/run_context.h"
#include "companion/system_zone.h"
#include "companion/token_readiness.h"

namespace qtk::companion {

// The report's group ids of the window's check groups.
inline constexpr std::string_view kTrustedSitesGroup = "trusted_sites";
inline constexpr std::string_view kSoftwareGroup = "software";
inline constexpr std::string_view kZoneScriptingGroup = "zone_scripting";
inline constexpr std::string_view kPopupAllowedGroup = "popup_allowed";

// The part of a trusted site's row ids that names the site: "https:*.qrn.example". The
// IE-mode rows of the same site use it too.
std::wstring SiteKey(const TrustedSite& site);

// Every check row of the window, in the contract's check order (CheckGroups()), each with
// its marker. registry reads HKCU as the examined user's hive. zones, when given, is
// Windows' own zone manager, asked beside each trusted site's user row (see system_zone.h).
std::vector<CheckResult> ExamineWorkstation(RegistrySource& registry,
                                            const ExaminedUser& user = {},
                                            ZoneMapper* zones = nullptr);

// What the examination asks of Windows besides the registry. A seam left null leaves its
// part out: without zones, Windows' own zone; without fetcher, parser and ie11, the
// IE-mode group; without token, the token group.
struct ExaminationSeams {
    ZoneMapper* zones = nullptr;
    SiteListFetcher* fetcher = nullptr;
    SiteListParser* parser = nullptr;
    TokenSystem* token = nullptr;
    Ie11FeatureProbe* ie11 = nullptr;
};

// The whole examination, in report order: the window's rows with their markers, then the
// groups the window has no room for. registry reads HKCU as the chosen user's hive (the
// platform maps it); with nobody to examine, no user key is opened at all and the user's
// rows say why.
std::vector<CheckResult> Examine(RegistrySource& registry, const UserChoice& choice,
                                 const ExaminationSeams& seams);

struct OsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::optional<std::uint32_t> update_revision;  // "UBR", when the system records one
};

// The revision lives beside the product name; a missing or unreadable value just leaves
// the version one number shorter.
std::optional<std::uint32_t> ReadUpdateRevision(RegistrySource& registry);

// "Version 10.0.19045.4291" and CR LF; the fail line when the version could not be determined,
// which is the one line the diagnostic reads as "show the service-pack text instead".
std::string VersionFileBytes(const std::optional<OsVersion>& version);

struct OutputFile {
    std::wstring path;
    std::string bytes;
};

// Everything to write, in the order it is put in place: the OS-version file, the markers
// in check order, and the clean-up script last.
// Only the rows that carry a marker are written; the others are the report's alone.
std::vector<OutputFile> PlanOutput(const std::vector<CheckResult>& rows,
                                   const std::optional<OsVersion>& version);

// A batch file that waits a moment, so that the diagnostic which starts it as it closes
// has gone, then deletes each of paths and finally itself.
std::string CleanupScriptBytes(const std::vector<std::wstring>& paths);

}  // namespace qtk::companion
