#include "companion/trusted_sites.h"

#include <utility>

namespace qtk::companion {
namespace {

// The Site to Zone Assignment List policy's switch, beside its list.
constexpr std::wstring_view kZoneMapSwitch = L"ListBox_Support_ZoneMapKey";

SitePattern RowPattern(const TrustedSite& site) {
    return SitePattern{site.wildcard, FoldCase(site.host)};
}

std::wstring RowName(const TrustedSite& site) {
    return DescribeSite(FoldCase(site.scheme), RowPattern(site));
}

std::optional<std::uint32_t> ParseZone(std::wstring_view text) {
    while (!text.empty() && text.front() == L' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == L' ') text.remove_suffix(1);
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint32_t zone = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        zone = zone * 10 + static_cast<std::uint32_t>(c - L'0');
    }
    return zone;
}

std::vector<std::wstring> Labels(const std::wstring& host) {
    std::vector<std::wstring> labels;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = host.find(L'.', start);
        labels.push_back(host.substr(start, dot - start));
        if (dot == std::wstring::npos) break;
        start = dot + 1;
    }
    return labels;
}

std::wstring Join(const std::vector<std::wstring>& labels, std::size_t from, std::size_t to) {
    std::wstring text;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from) text += L'.';
        text += labels[i];
    }
    return text;
}

std::wstring PatternKey(const SitePattern& pattern) {
    return pattern.wildcard ? L"*." + pattern.host : pattern.host;
}

Finding ZoneVerdict(std::wstring site, std::uint32_t zone, std::wstring where,
                    std::wstring place) {
    if (zone == kTrustedSitesZone) {
        return Ok(site + L" is in the Trusted sites zone (" + where + L")", std::move(place));
    }
    return Fail(site + L" is in the " + ZoneName(zone) + L" zone, not Trusted sites (" + where +
                L")", std::move(place));
}

}  // namespace

std::vector<std::wstring> OwnListLocations(const SitePattern& pattern) {
    const std::vector<std::wstring> labels = Labels(pattern.host);
    const std::size_t n = labels.size();
    std::vector<std::wstring> locations;
    if (!pattern.wildcard) {
        // Domains\qrn.example\tesk is how the browser's own dialog stores one host; the
        // other splits and the bare domain key say the same thing less usually.
        for (std::size_t k = 1; k < n; ++k) {
            locations.push_back(Join(labels, k, n) + L"\\" + Join(labels, 0, k));
        }
        locations.push_back(pattern.host);
    } else {
        // Only a key of exactly two labels speaks for the hosts below it; a longer name in
        // one piece (or a lone label) is that one host, and taking it for the whole
        // sub-domain would report a pass the browser does not honour.
        if (n == 2) locations.push_back(pattern.host);
        locations.push_back(pattern.host + L"\\*");
        for (std::size_t k = 1; k < n; ++k) {
            locations.push_back(Join(labels, k, n) + L"\\*." + Join(labels, 0, k));
        }
    }
    return locations;
}

TrustedSiteExaminer::TrustedSiteExaminer(RegistrySource& registry)
    : registry_(registry),
      machine_only_(ReadMachineOnlyRule(registry)),
      machine_policy_(LoadPolicyList(registry, Hive::LocalMachine)),
      user_policy_(LoadPolicyList(registry, Hive::CurrentUser)),
      server_(ReadIsServer(registry)),
      machine_list_(LoadOwnList(registry, Hive::LocalMachine, server_)),
      user_list_(LoadOwnList(registry, Hive::CurrentUser, server_)) {}

DwordRead ReadIsServer(RegistrySource& registry) {
    const KeyPlace place{Hive::LocalMachine, View::Bits64,
                         L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions"};
    OpenedKey key;
    const long opened = key.Open(registry, place);
    // Every Windows has the key; without it nothing says this is a server.
    if (opened == reg_error::kFileNotFound || opened == reg_error::kPathNotFound) return {0u, {}};
    if (opened != reg_error::kSuccess) return {std::nullopt, CannotLook(opened, place)};
    std::wstring type;
    const long read = registry.ReadString(key.Handle(), L"ProductType", &type);
    if (read == reg_error::kFileNotFound) return {0u, {}};
    if (read != reg_error::kSuccess) return {std::nullopt, CannotLook(read, place, L"ProductType")};
    // "WinNT" is a workstation; "ServerNT" a server, "LanmanNT" a domain controller.
    return {SameName(Trim(type), L"WinNT") ? 0u : 1u, {}};
}

TrustedSiteExaminer::PolicyList TrustedSiteExaminer::LoadPolicyList(RegistrySource& registry,
                                                                    Hive hive) {
    PolicyList list;
    list.place = InternetSettingsPlace(hive, true, L"ZoneMapKey");
    const DwordRead enabled =
        ReadOptionalDword(registry, InternetSettingsPlace(hive, true), kZoneMapSwitch);
    if (enabled.unreadable) {
        list.unreadable = enabled.unreadable;
        return list;
    }
    list.in_force = enabled.value == 1u;
    if (!list.in_force) return list;
    OpenedKey key;
    const long opened = key.Open(registry, list.place);
    if (opened == reg_error::kFileNotFound || opened == reg_error::kPathNotFound) return list;
    if (opened != reg_error::kSuccess) {
        list.unreadable = CannotLook(opened, list.place);
        return list;
    }
    std::vector<std::wstring> names;
    if (const long listed = registry.ListValues(key.Handle(), &names);
        listed != reg_error::kSuccess) {
        list.unreadable = CannotLook(listed, list.place);
        return list;
    }
    for (const std::wstring& name : names) {
        std::optional<SiteName> site = ParseSiteName(name);
        if (!site) continue;
        PolicyEntry entry{name, std::move(*site), std::nullopt, {}, std::nullopt};
        // Group Policy writes the zone as text; a DWORD says the same thing.
        long read = registry.ReadString(key.Handle(), name, &entry.data);
        if (read == reg_error::kSuccess) {
            entry.zone = ParseZone(entry.data);
        } else if (read == reg_error::kUnsupportedType) {
            std::uint32_t zone = 0;
            read = registry.ReadDword(key.Handle(), name, &zone);
            if (read == reg_error::kSuccess) {
                entry.zone = zone;
                entry.data = std::to_wstring(zone);
            }
        }
        if (read != reg_error::kSuccess) entry.unreadable = CannotLook(read, list.place, name);
        list.by_pattern[PatternKey(entry.site.pattern)].push_back(list.entries.size());
        list.entries.push_back(std::move(entry));
    }
    return list;
}

TrustedSiteExaminer::OwnList TrustedSiteExaminer::LoadOwnList(RegistrySource& registry,
                                                              Hive hive, const DwordRead& server) {
    OwnList list;
    list.place = InternetSettingsPlace(hive, false, L"ZoneMap\\Domains");
    const DwordRead harden =
        ReadOptionalDword(registry, InternetSettingsPlace(hive, false, L"ZoneMap"), L"IEHarden");
    if (harden.value != 1u) {
        list.unreadable = harden.unreadable;
        return list;
    }
    // IEHarden means something only where Enhanced Security Configuration exists.
    if (server.unreadable) {
        list.unreadable = server.unreadable;
    } else if (server.value == 1u) {
        list.place = InternetSettingsPlace(hive, false, L"ZoneMap\\EscDomains");
    }
    return list;
}

Finding TrustedSiteExaminer::FromPolicy(const TrustedSite& site, const PolicyList& list) {
    const std::wstring scheme = FoldCase(site.scheme);
    for (const SitePattern& pattern : DecidingPatterns(RowPattern(site))) {
        const PolicyEntry* chosen = nullptr;
        const auto named = list.by_pattern.find(PatternKey(pattern));
        if (named == list.by_pattern.end()) continue;
        for (const std::size_t index : named->second) {
            const PolicyEntry& entry = list.entries[index];
            if (entry.site.scheme == scheme) {
                chosen = &entry;
                break;
            }
            if (entry.site.scheme.empty() && chosen == nullptr) chosen = &entry;
        }
        if (chosen == nullptr) continue;
        if (chosen->unreadable) return *chosen->unreadable;
        const std::wstring place = DescribePlace(list.place) + L" value " + chosen->value_name;
        const std::wstring where =
            L"policy " + DescribePlace(list.place) + L" value " + Quoted(chosen->value_name);
        if (!chosen->zone) {
            return Fail(where + L" holds " + Quoted(chosen->data) + L", which is no zone number",
                        place);
        }
        return ZoneVerdict(RowName(site), *chosen->zone, where, place);
    }
    return Fail(RowName(site) + L" is not on the policy site list " + DescribePlace(list.place) +
                L", which replaces the own list", DescribePlace(list.place));
}

Finding TrustedSiteExaminer::FromOwnList(const TrustedSite& site, const OwnList& list) {
    if (list.unreadable) return *list.unreadable;
    const std::wstring scheme = FoldCase(site.scheme);
    for (const SitePattern& pattern : DecidingPatterns(RowPattern(site))) {
        for (const std::wstring& location : OwnListLocations(pattern)) {
            const KeyPlace place = list.place.Child(location);
            OpenedKey key;
            const long opened = key.Open(registry_, place);
            if (opened == reg_error::kFileNotFound || opened == reg_error::kPathNotFound) {
                continue;
            }
            if (opened != reg_error::kSuccess) return CannotLook(opened, place);
            for (const std::wstring_view name : {std::wstring_view(scheme), std::wstring_view(L"*")}) {
                std::uint32_t zone = 0;
                const long read = registry_.ReadDword(key.Handle(), name, &zone);
                if (read == reg_error::kFileNotFound) continue;
                if (read != reg_error::kSuccess) return CannotLook(read, place, name);
                const std::wstring where = DescribePlace(place) + L" value " + std::wstring(name);
                return ZoneVerdict(RowName(site), zone, where, where);
            }
        }
    }
    return Fail(RowName(site) + L" is not in the Trusted sites zone (nothing under " +
                DescribePlace(list.place) + L" names it)", DescribePlace(list.place));
}

Finding TrustedSiteExaminer::ExamineHive(const TrustedSite& site, Hive hive) {
    const PolicyList& policy = hive == Hive::LocalMachine ? machine_policy_ : user_policy_;
    if (policy.unreadable) return *policy.unreadable;
    if (policy.in_force) return FromPolicy(site, policy);
    return FromOwnList(site, hive == Hive::LocalMachine ? machine_list_ : user_list_);
}

Finding TrustedSiteExaminer::Examine(const TrustedSite& site, Hive scope) {
    if (scope == Hive::LocalMachine) return ExamineHive(site, Hive::LocalMachine);
    if (machine_only_.unreadable) return *machine_only_.unreadable;
    if (machine_only_.on) {
        Finding finding = ExamineHive(site, Hive::LocalMachine);
        finding.reason = L"machine settings only (Security_HKLM_only): " + finding.reason;
        return finding;
    }
    if (machine_policy_.unreadable) return *machine_policy_.unreadable;
    if (machine_policy_.in_force) return FromPolicy(site, machine_policy_);
    return ExamineHive(site, Hive::CurrentUser);
}

}  // namespace qtk::companion
