// Will each QUORIN site open in Microsoft Edge's Internet Explorer mode? Internet Explorer is
// retired; a site that needs it opens in Edge's IE mode, which takes two policies:
// - InternetExplorerIntegrationLevel (REG_DWORD under Software\Policies\Microsoft\Edge):
//   0 None, 1 IEMode, 2 NeedIE (a standalone IE11 window, which the retirement has
//   disabled). Only 1 gives IE mode;
// - InternetExplorerIntegrationSiteList (REG_SZ, same key): where the Enterprise Mode Site
//   List lives, as a local path, a UNC path, a file: URL or an http(s): URL. The list decides
//   site by site (see site_list.h).
// Both are mandatory-only policies, machine (HKLM) or user (HKCU); where both scopes set
// one, the machine's value holds, as for policies in general.
//
// Anything that leaves the answer open (a policy that cannot be read, a list that cannot
// be fetched or is not well-formed XML) makes the row undecided with the reason: the report
// never shows a pass it could not establish.
//
// Sources:
// - "InternetExplorerIntegrationLevel",
//   https://learn.microsoft.com/en-us/deployedge/microsoft-edge-policies/internetexplorerintegrationlevel
// - "InternetExplorerIntegrationSiteList",
//   https://learn.microsoft.com/en-us/deployedge/microsoft-edge-policies/internetexplorerintegrationsitelist
// - "Configure IE mode policies" (list locations: https, \\network\shares\sites.xml,
//   file:///c:/Users/<user>/Documents/sites.xml),
//   https://learn.microsoft.com/en-us/deployedge/edge-ie-mode-policies
// - "Policies" registry reference (HKLM entries take precedence over HKCU when both are
//   configured), https://learn.microsoft.com/en-us/previous-versions/windows/it-pro/windows-2000-server/cc978722(v=technet.10)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks/tables.h"
#include "companion/check_result.h"
#include "companion/finding.h"
#include "companion/registry_source.h"
#include "companion/site_list.h"

namespace qtk::companion {

inline constexpr std::string_view kIeModeGroup = "ie_mode";

// One policy value as Edge would take it: the machine's where set, else the user's.
template <typename T>
struct PolicyValue {
    std::optional<T> value;
    KeyPlace place;                     // where the value in force was found
    std::optional<Finding> unreadable;  // a scope that could not be read
};

struct IeModePolicy {
    PolicyValue<std::uint32_t> level;
    PolicyValue<std::wstring> site_list;
};
IeModePolicy ReadIeModePolicy(RegistrySource& registry);

enum class SiteListSource { LocalFile, NetworkFile, Http, Https };

struct SiteListLocation {
    SiteListSource source = SiteListSource::LocalFile;
    std::wstring target;  // a Windows path for files, the URL itself for http(s)
};

// Reads the policy's text; nothing (and *problem set) for what Edge could not load either:
// another scheme, a relative path, an empty value.
std::optional<SiteListLocation> ParseSiteListLocation(std::wstring_view text,
                                                      std::wstring* problem);

// The two outside steps, behind seams so that the decisions are tested on the host.
struct FetchedList {
    bool ok = false;
    std::string bytes;
    std::wstring error;  // why not, for a person: "error 2: the file was not found"
};
class SiteListFetcher {
public:
    virtual ~SiteListFetcher() = default;
    virtual FetchedList Fetch(const SiteListLocation& location) = 0;
};

struct ParsedList {
    std::optional<SiteList> list;
    std::wstring error;  // "not well-formed at line 3, column 7" and the like
};
class SiteListParser {
public:
    virtual ~SiteListParser() = default;
    virtual ParsedList Parse(const std::string& bytes) = 0;
};

// One row per trusted site of the check tables, in table order, scope User (the policies
// in force for the examined user), group "ie_mode". registry reads HKCU as the examined
// user's hive.
std::vector<CheckResult> ExamineIeMode(RegistrySource& registry, SiteListFetcher& fetcher,
                                       SiteListParser& parser);

}  // namespace qtk::companion
