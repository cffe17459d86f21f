// Will each QUORIN site open in Microsoft Edge's Internet Explorer mode? Internet Explorer is
// retired; a site that needs it opens in Edge's IE mode. The verdict of a site's row follows
// these rules, in this order: the first that applies decides.
//
// 1. IE mode hosts the Internet Explorer 11 engine, which comes with the "Internet Explorer
//    11" optional feature of Windows (Internet-Explorer-Optional-amd64 on Windows 10;
//    "Internet Explorer mode" among the optional features of Windows 11). Where it has been
//    removed, no site opens in IE mode: every row fails with that reason. The feature's
//    program, %ProgramFiles%\Internet Explorer\iexplore.exe, is what Edge starts to host an
//    IE-mode tab and what removing the feature takes away, so its presence is what is
//    looked at (see Ie11Program below); where that cannot be told, a row that would pass is
//    undecided instead.
//    Sources: "About IE mode", https://learn.microsoft.com/en-us/deployedge/edge-ie-mode;
//    "Internet Explorer 11 desktop app retirement FAQ",
//    https://learn.microsoft.com/en-us/lifecycle/faq/internet-explorer-microsoft-edge
//    (IE mode relies on the IE11 platform; keep the IE11 feature installed);
//    "Win32_OptionalFeature class" (the feature's name, Internet-Explorer-Optional-<arch>),
//    https://learn.microsoft.com/en-us/windows/win32/cimwin32prov/win32-optionalfeature.
// 2. InternetExplorerIntegrationLevel (REG_DWORD under Software\Policies\Microsoft\Edge)
//    switches IE mode on: 0 None, 1 IEMode, 2 NeedIE. Since the IE11 desktop application was
//    retired in June 2022, NeedIE no longer opens a standalone IE11 window but IE mode, so 2
//    counts as 1. Not set, 0 or any other value: every row fails.
//    Source: "InternetExplorerIntegrationLevel",
//    https://learn.microsoft.com/en-us/deployedge/microsoft-edge-policies/internetexplorerintegrationlevel
// 3. InternetExplorerIntegrationCloudSiteList (REG_SZ, same key) names a site list kept in
//    the Microsoft 365 admin center; where it is set, Edge uses it in place of any local
//    list. It cannot be read from the workstation, so every row is undecided with that
//    reason, never decided from a local list the cloud one overrides.
//    Sources: "InternetExplorerIntegrationCloudSiteList",
//    https://learn.microsoft.com/en-us/deployedge/microsoft-edge-policies/internetexplorerintegrationcloudsitelist;
//    "Cloud Site List Management for Internet Explorer (IE) mode",
//    https://learn.microsoft.com/en-us/deployedge/edge-ie-mode-cloud-site-list-mgmt
// 4. The local list in force: Edge's InternetExplorerIntegrationSiteList (REG_SZ, same key);
//    where Edge's is not set, Internet Explorer's own "Use the Enterprise Mode IE website
//    list" policy (SiteList, REG_SZ under Software\Policies\Microsoft\Internet
//    Explorer\Main\EnterpriseMode), which IE mode uses too. Either names the list as a local
//    path, a UNC path, a file: URL or an http(s): URL. Neither set: every row fails.
//    Sources: "Configure IE mode policies",
//    https://learn.microsoft.com/en-us/deployedge/edge-ie-mode-policies;
//    "InternetExplorerIntegrationSiteList",
//    https://learn.microsoft.com/en-us/deployedge/microsoft-edge-policies/internetexplorerintegrationsitelist;
//    "Turn on Enterprise Mode and use a site list" (the SiteList value),
//    https://learn.microsoft.com/en-us/internet-explorer/ie11-deploy-guide/turn-on-enterprise-mode-and-use-a-site-list
// 5. The list decides site by site (see site_list.h): a site whose deciding entry opens it in
//    IE11 passes; a site the list does not send to IE11 fails. A wildcard row passes when
//    the domain's hosts open in IE mode and every host below it that an entry names
//    otherwise is a neutral site (open-in None or not given): a neutral site stays in the
//    engine the navigation started in, and Microsoft asks for sign-on servers to be
//    configured so that IE-mode pages can authenticate. A host kept in Edge (MSEdge) or
//    left to the server (Configurable) still fails the wildcard row.
//    Source: "Enterprise site configuration strategy" ("Configure neutral sites"),
//    https://learn.microsoft.com/en-us/deployedge/edge-ie-mode-sitelist
// 6. Schema v.1 lists (<rules>) are not supported for IE mode integration: a site that only
//    such a list sends to IE11 fails with that reason, so that a person converts the list.
//    Sources: "Configure IE mode policies" (v.1 schema not supported for IE mode),
//    https://learn.microsoft.com/en-us/deployedge/edge-ie-mode-policies;
//    "Enterprise site configuration strategy",
//    https://learn.microsoft.com/en-us/deployedge/edge-ie-mode-sitelist;
//    "Enterprise Mode schema v.2 guidance",
//    https://learn.microsoft.com/en-us/internet-explorer/ie11-deploy-guide/enterprise-mode-schema-version-2-guidance
//
// Every policy is mandatory-only, machine (HKLM) or user (HKCU); where both scopes set one,
// the machine's value holds, as for policies in general. HKCU is read through the registry
// the caller hands over, mapped to the examined user's hive.
//
// Anything that leaves the answer open (a policy that cannot be read, a list that cannot
// be fetched or is not well-formed XML) makes the row undecided with the reason: the report
// never shows a pass it could not establish.
//
// Source for the scopes: "Policies" registry reference (HKLM entries take precedence over
// HKCU when both are configured),
// https://learn.microsoft.com/en-us/previous-versions/windows/it-pro/windows-2000-server/cc978722(v=technet.10)
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
    PolicyValue<std::wstring> cloud_site_list;  // Edge's, a list id; an empty value is unset
    PolicyValue<std::wstring> site_list;        // Edge's
    PolicyValue<std::wstring> ie_site_list;     // Internet Explorer's EnterpriseMode SiteList
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

// Is the Internet Explorer 11 feature in place (rule 1)? The platform looks for its program;
// Ie11Program turns what it found into the answer.
enum class Ie11State { Present, Removed, Unknown };
struct Ie11Feature {
    Ie11State state = Ie11State::Unknown;
    std::wstring program;  // the file looked for
    std::wstring problem;  // Unknown: why it cannot be told
};
class Ie11FeatureProbe {
public:
    virtual ~Ie11FeatureProbe() = default;
    virtual Ie11Feature Look() = 0;
};

// From the Windows error of asking for iexplore.exe's attributes (0: found) and whether
// the name turned out to be a folder. Missing file or folder: the feature is removed; any
// other error leaves it open, with error_text as the reason.
Ie11Feature Ie11Program(std::wstring program, long error, bool is_folder,
                        std::wstring error_text = {});

// One row per trusted site of the check tables, in table order, scope User (the policies
// in force for the examined user), group "ie_mode". registry reads HKCU as the examined
// user's hive.
std::vector<CheckResult> ExamineIeMode(RegistrySource& registry, SiteListFetcher& fetcher,
                                       SiteListParser& parser, Ie11FeatureProbe& ie11);

}  // namespace qtk::companion
