// Is a row's site in the Trusted sites zone, for the current user and for the machine?
//
// Where the answer comes from, for one scope, first rule that applies:
// - user scope, with the machine policy "Security_HKLM_only" at 1: the machine's answer,
//   because the browser then ignores every user's own settings;
// - the Group Policy "Site to Zone Assignment List" (IZ_Zonemaps in inetres.admx), when it
//   is in force: its administrative template writes the switch ListBox_Support_ZoneMapKey
//   (REG_DWORD, 1 enabled, 0 disabled) under Software\Policies\...\Internet Settings and
//   the list as the values under ...\Internet Settings\ZoneMapKey, named like
//   "https://tesk.qrn.example" with data "2". The switch at 1 decides that the list is in
//   force, and then it replaces the scope's own list, so only it decides (an empty list
//   included); values under ZoneMapKey without the switch, or with it at 0, are no policy
//   in force and leave the own list deciding. The machine's policy list comes before the
//   user's and also decides for the user;
// - the scope's own list under ...\Internet Settings\ZoneMap\Domains, or EscDomains when
//   Enhanced Security Configuration is on for that scope (value IEHarden = 1 on ZoneMap).
//   Enhanced Security Configuration is a Windows Server feature: on a workstation
//   (ProductType "WinNT" under HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions, the
//   registry form of VER_NT_WORKSTATION) IEHarden is ignored and Domains decides.
//   The user column reads only HKCU and the machine column only HKLM, so the board shows
//   where a site was set up, even though a browser would also fall back from one to the
//   other.
//
// In the own list (Domains, or EscDomains, which has the same layout) a key names a host or
// a domain, a sub-key names a host one level further down, and a DWORD value named after
// the scheme ("https", or "http" for the plain-http row) or "*" (every scheme) holds the
// zone. Row shape by row shape:
// - a key naming exactly two labels, Domains\qrn.example: that domain and every host
//   below it (the browser reads such a key as "*.qrn.example" too);
// - a key naming one label, or more than two in one piece, Domains\hvk.qrn.example: that
//   one host only, never the hosts below it. So the row "*.hvk.qrn.example" is not covered
//   by it; it needs the wildcard sub-key below;
// - a sub-key, Domains\qrn.example\tesk: the one host tesk.qrn.example;
// - a wildcard sub-key, Domains\qrn.example\*.hvk, or a "*" sub-key under the host's own
//   key, Domains\hvk.qrn.example\*: every host strictly below hvk.qrn.example. A "*" is
//   a wildcard only as the first label; "tesk.*" is just a name;
// - on one key, the scheme's own value before "*";
// - the most specific entry that has a value for the scheme decides; a key that matches
//   but holds neither the scheme's value nor "*" does not decide, and the less specific
//   entries are read on. (Wine's zone manager stops at such a key instead.)
//
// Sources:
// - "Internet Explorer security zones registry entries for advanced users" (KB 182569),
//   https://learn.microsoft.com/en-us/troubleshoot/developer/browsers/security-privacy/ie-security-zones-registry-entries
//   (Domains and EscDomains, sub-domains as keys below their domain, the DWORD named
//   after the protocol holding the zone; Security_HKLM_only);
// - "Policy CSP - InternetExplorer", AllowSiteToZoneAssignmentList: ADMX IZ_Zonemaps in
//   inetres.admx, registry key Software\Policies\Microsoft\Windows\CurrentVersion\Internet
//   Settings, value ListBox_Support_ZoneMapKey,
//   https://learn.microsoft.com/en-us/windows/client-management/mdm/policy-csp-internetexplorer#allowsitetozoneassignmentlist;
// - "Microsoft-Windows-IE-ESC" and its TrustedSites setting ("available only for Windows
//   Server"), https://learn.microsoft.com/en-us/previous-versions/windows/it-pro/windows-vista/cc765960(v=ws.10),
//   and "OSVERSIONINFOEXW structure" (wProductType VER_NT_WORKSTATION, VER_NT_SERVER,
//   VER_NT_DOMAIN_CONTROLLER), https://learn.microsoft.com/en-us/windows/win32/api/winnt/ns-winnt-osversioninfoexw;
// - "Adding Sites to the Enhanced Security Configuration Zones",
//   https://learn.microsoft.com/en-us/previous-versions/windows/internet-explorer/ie-developer/platform-apis/ms537181(v=vs.85)
//   (EscDomains takes the same entries when Enhanced Security Configuration is on);
// - "IInternetSecurityManager::SetZoneMapping method",
//   https://learn.microsoft.com/en-us/previous-versions/windows/internet-explorer/ie-developer/platform-apis/ms537143(v=vs.85)
//   ("*" only as the leading label of a pattern, "*://" for every scheme);
// - "Internet Explorer's Explicit Security Zone Mappings", Microsoft's archived FDCC blog,
//   https://learn.microsoft.com/en-us/archive/blogs/fdcc/internet-explorers-explicit-security-zone-mappings
//   (which ZoneMap hierarchy is in effect: policy lists, machine settings only, ESC);
// - the zone-mapping conformance cases that Wine's urlmon tests run against Windows
//   (dlls/urlmon/tests/sec_mgr.c, zone_mapping_tests): a two-label key maps the hosts
//   below it, while a one-label key ("org") and a longer one-piece key ("www.testing.com")
//   map only themselves; "*.testing" as a sub-key maps the hosts below testing.<key>.
#pragma once

#include <optional>
#include <unordered_map>

#include "checks/tables.h"
#include "companion/finding.h"
#include "companion/internet_settings.h"
#include "companion/registry_source.h"
#include "companion/site_names.h"

namespace qtk::companion {

class TrustedSiteExaminer {
public:
    // Reads what every row shares (the policy lists, the machine-only rule, whether
    // Enhanced Security Configuration is on) once.
    explicit TrustedSiteExaminer(RegistrySource& registry);

    Finding Examine(const TrustedSite& site, Hive scope);

private:
    struct PolicyEntry {
        std::wstring value_name;
        SiteName site;
        std::optional<std::uint32_t> zone;  // nothing when the data is not a zone number
        std::wstring data;                  // as written, for the reason
        std::optional<Finding> unreadable;
    };
    struct PolicyList {
        KeyPlace place;
        std::optional<Finding> unreadable;
        bool in_force = false;  // the policy's switch is on
        std::vector<PolicyEntry> entries;
        // The entries naming each pattern ("*.qrn.example", "tesk.qrn.example"), in list
        // order: built in the one pass that reads the list, so a row looks up its few
        // patterns instead of going through every entry again.
        std::unordered_map<std::wstring, std::vector<std::size_t>> by_pattern;
    };
    struct OwnList {
        KeyPlace place;  // ...\ZoneMap\Domains or EscDomains
        std::optional<Finding> unreadable;
    };

    // One scope on its own terms, without the machine-only rule and the machine policy
    // that the user scope defers to.
    Finding ExamineHive(const TrustedSite& site, Hive hive);
    static PolicyList LoadPolicyList(RegistrySource& registry, Hive hive);
    static OwnList LoadOwnList(RegistrySource& registry, Hive hive, const DwordRead& server);
    Finding FromPolicy(const TrustedSite& site, const PolicyList& list);
    Finding FromOwnList(const TrustedSite& site, const OwnList& list);

    RegistrySource& registry_;
    MachineOnlyRule machine_only_;
    PolicyList machine_policy_;
    PolicyList user_policy_;
    DwordRead server_;  // whether Enhanced Security Configuration can exist here
    OwnList machine_list_;
    OwnList user_list_;
};

// Whether this Windows is a server, where Enhanced Security Configuration exists: the value
// is 1 for a server or domain controller, 0 for a workstation.
DwordRead ReadIsServer(RegistrySource& registry);

// Where an entry for the pattern may stand under Domains (or EscDomains), relative to
// it, in the order they are consulted.
std::vector<std::wstring> OwnListLocations(const SitePattern& pattern);

}  // namespace qtk::companion
