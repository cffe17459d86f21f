// Is a row's site in the Trusted sites zone, for the current user and for the machine?
//
// Where the answer comes from, for one scope, first rule that applies:
// - user scope, with the machine policy "Security_HKLM_only" at 1: the machine's answer,
//   because the browser then ignores every user's own settings;
// - a Group Policy site list (the values under ...\Internet Settings\ZoneMapKey, named
//   like "https://tesk.qrn.example" with data "2"): when such a list holds any value, it
//   replaces the scope's own list, so only it decides. The machine's policy list comes
//   before the user's and also decides for the user;
// - the scope's own list under ...\Internet Settings\ZoneMap\Domains, or EscDomains when
//   Enhanced Security Configuration is on for that scope (value IEHarden = 1 on ZoneMap).
//   The user column reads only HKCU and the machine column only HKLM, so the board shows
//   where a site was set up, even though a browser would also fall back from one to the
//   other.
//
// In the own list, a value named after the scheme ("https", or "http" for the plain-http
// row) or "*" (every scheme) gives the zone. Where it may stand:
// - on a domain key, Domains\qrn.example: that domain and every host below it;
// - on a sub-key, Domains\qrn.example\tesk: the one host tesk.qrn.example;
// - on a wildcard sub-key, Domains\qrn.example\*.hvk: every host below hvk.qrn.example.
// The most specific entry that has a value for the scheme decides, the scheme's own value
// before "*" on the same key; a less specific entry only counts where no more specific one
// speaks for the scheme.
#pragma once

#include <optional>

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
        std::size_t value_count = 0;  // every value, named like a site or not
        std::vector<PolicyEntry> entries;
    };
    struct OwnList {
        KeyPlace place;  // ...\ZoneMap\Domains or EscDomains
        std::optional<Finding> unreadable;
    };

    // One scope on its own terms, without the machine-only rule and the machine policy
    // that the user scope defers to.
    Finding ExamineHive(const TrustedSite& site, Hive hive);
    static PolicyList LoadPolicyList(RegistrySource& registry, Hive hive);
    static OwnList LoadOwnList(RegistrySource& registry, Hive hive);
    Finding FromPolicy(const TrustedSite& site, const PolicyList& list);
    Finding FromOwnList(const TrustedSite& site, const OwnList& list);

    RegistrySource& registry_;
    MachineOnlyRule machine_only_;
    PolicyList machine_policy_;
    PolicyList user_policy_;
    OwnList machine_list_;
    OwnList user_list_;
};

// Where an entry for the pattern may stand under Domains (or EscDomains), relative to
// it, in the order they are consulted.
std::vector<std::wstring> OwnListLocations(const SitePattern& pattern);

}  // namespace qtk::companion
