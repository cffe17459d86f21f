#include "companion/fix_plan.h"

#include <map>
#include <optional>

#include "checks/tables.h"
#include "companion/check_rows.h"
#include "companion/examination.h"
#include "companion/internet_settings.h"

namespace qtk::companion {
namespace {

constexpr std::uint32_t kEnable = 0;

// Where a site's entry goes under Domains: "qrn.example\tesk", "qrn.example\*.hvk",
// "qrn.example" for the wildcard over the two-label domain.
std::wstring DomainsEntry(const TrustedSite& site) {
    const std::wstring host = FoldCase(site.host);
    std::size_t dot = host.rfind(L'.');
    if (dot != std::wstring::npos) dot = host.rfind(L'.', dot - 1);
    if (dot == std::wstring::npos) return host;  // two labels or fewer: the domain key itself
    const std::wstring domain = host.substr(dot + 1);
    const std::wstring below = host.substr(0, dot);
    return domain + L"\\" + (site.wildcard ? L"*." + below : below);
}

bool HasValue(RegistrySource& registry, const KeyPlace& key, std::wstring_view value) {
    OpenedKey opened;
    if (opened.Open(registry, key) != reg_error::kSuccess) return false;
    std::uint32_t data = 0;
    return registry.ReadDword(opened.Handle(), value, &data) != reg_error::kFileNotFound;
}

bool HasAnyValue(RegistrySource& registry, const KeyPlace& key) {
    OpenedKey opened;
    if (opened.Open(registry, key) != reg_error::kSuccess) return false;
    std::vector<std::wstring> names;
    return registry.ListValues(opened.Handle(), &names) == reg_error::kSuccess && !names.empty();
}

}  // namespace

FixPlan PlanFix(const std::vector<CheckResult>& rows, RegistrySource& registry) {
    std::map<std::string, RowVerdict> verdicts;
    FixPlan plan;
    for (const CheckResult& row : rows) {
        verdicts[row.id] = row.verdict;
        if (!row.marker.empty() && row.scope == RowScope::Machine && row.verdict == RowVerdict::Fail) {
            plan.machine_rows.push_back(row.id);
        }
    }
    const auto failed = [&](const std::string& id) {
        const auto found = verdicts.find(id);
        return found != verdicts.end() && found->second == RowVerdict::Fail;
    };
    const auto change = [&](std::string id, KeyPlace key, std::wstring value, bool binary,
                            std::uint32_t dword) {
        plan.changes.push_back({std::move(id), std::move(key), std::move(value), binary, dword});
    };
    const auto policy_switch_on = [&](Hive hive) {
        const DwordRead on = ReadOptionalDword(registry, InternetSettingsPlace(hive, true),
                                               L"ListBox_Support_ZoneMapKey");
        return on.value == 1u;
    };
    const bool machine_only = ReadMachineOnlyRule(registry).on;
    constexpr wchar_t kMachineOnly[] =
        L"held by the machine policy Security_HKLM_only, which makes the browser ignore the "
        L"user's own zone settings; an administrator must change it";

    for (const TrustedSite& site : TrustedSites()) {
        const std::string id = RowId(kTrustedSitesGroup, RowScope::User, {SiteKey(site)});
        if (!failed(id)) continue;
        if (machine_only) {
            plan.held.push_back({id, kMachineOnly});
        } else if (policy_switch_on(Hive::LocalMachine) || policy_switch_on(Hive::CurrentUser)) {
            plan.held.push_back(
                {id, L"held by the Group Policy Site to Zone Assignment List (ZoneMapKey), which "
                     L"replaces the user's own list; an administrator must add the site to it"});
        } else {
            change(id, InternetSettingsPlace(Hive::CurrentUser, false, L"ZoneMap\\Domains")
                           .Child(DomainsEntry(site)),
                   FoldCase(site.scheme), false, kTrustedSitesZone);
        }
    }
    for (const ZoneSetting& setting : ZoneSettings()) {
        const std::wstring action = std::to_wstring(setting.url_action);
        const std::string id = RowId(kZoneScriptingGroup, RowScope::User, {action});
        if (!failed(id)) continue;
        const KeyPlace machine_policy = InternetSettingsPlace(Hive::LocalMachine, true, L"Zones\\2");
        const KeyPlace user_policy = InternetSettingsPlace(Hive::CurrentUser, true, L"Zones\\2");
        if (machine_only) {
            plan.held.push_back({id, kMachineOnly});
        } else if (HasValue(registry, machine_policy, action) || HasValue(registry, user_policy, action)) {
            plan.held.push_back({id, L"held by a policy that sets URL action " + action +
                                         L" of the Trusted sites zone (Policies\\...\\Zones\\2); "
                                         L"an administrator must change it"});
        } else {
            change(id, InternetSettingsPlace(Hive::CurrentUser, false, L"Zones\\2"), action, false,
                   kEnable);
        }
    }
    for (const PopupSite& site : PopupSites()) {
        const std::string id = RowId(kPopupAllowedGroup, RowScope::User, {site.host});
        if (!failed(id)) continue;
        const KeyPlace machine_policy{Hive::LocalMachine, SettingsView(Hive::LocalMachine),
                                      std::wstring(keys::kPolicyPopupAllow)};
        const KeyPlace user_policy{Hive::CurrentUser, SettingsView(Hive::CurrentUser),
                                   std::wstring(keys::kPolicyPopupAllow)};
        if (HasAnyValue(registry, machine_policy) || HasAnyValue(registry, user_policy)) {
            plan.held.push_back({id, L"held by the Group Policy pop-up allow list, which the "
                                     L"administrator keeps; an administrator must add the host"});
        } else {
            change(id, KeyPlace{Hive::CurrentUser, SettingsView(Hive::CurrentUser),
                                std::wstring(keys::kPopupAllow)},
                   std::wstring(site.host), true, 0);
        }
    }
    return plan;
}

}  // namespace qtk::companion
