#include "companion/check_rows.h"

#include "checks/contract.h"
#include "checks/tables.h"
#include "companion/cli.h"

namespace qtk::companion {
namespace {

// Stable ids stay ASCII and free of blanks whatever a target's name holds.
std::string IdPart(std::wstring_view text) {
    std::string part;
    for (const wchar_t c : text) {
        const bool keep = (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'.' ||
                          c == L'*' || c == L'-' || c == L':';
        if (c >= L'A' && c <= L'Z') {
            part += static_cast<char>(c - L'A' + L'a');
        } else {
            part += keep ? static_cast<char>(c) : '_';
        }
    }
    return part;
}

std::wstring SiteId(const TrustedSite& site) {
    return std::wstring(site.scheme) + L":" + (site.wildcard ? L"*." : L"") + std::wstring(site.host);
}

}  // namespace

std::optional<RowIdentity> IdentifyMarker(std::wstring_view marker) {
    for (const CheckGroup& group : CheckGroups()) {
        for (std::size_t i = 0; i < group.rows.size(); ++i) {
            if (MarkerPath(group.rows[i]) != marker) continue;
            // A one-column group (the packages, the pop-up lists) is reported by what it
            // reads: a package installed for the machine or the user is on this
            // workstation; the pop-up blocker's lists are the user's (their own and the
            // policies applied to them), as the browser reads no machine list of its own.
            const RowScope scope = group.scope == Scope::User      ? RowScope::User
                                   : group.scope == Scope::Machine ? RowScope::Machine
                                   : group.topic == Topic::PopupAllowedSites ? RowScope::User
                                                                             : RowScope::Machine;
            switch (group.topic) {
                case Topic::TrustedSites: {
                    const TrustedSite& site = TrustedSites()[i];
                    return RowIdentity{"trusted_sites", scope, SiteCaption(site), IdPart(SiteId(site))};
                }
                case Topic::SoftwareInstall: {
                    const SoftwarePackage& package = SoftwarePackages()[i];
                    return RowIdentity{"software", scope, std::wstring(package.display_name),
                                       IdPart(package.display_name)};
                }
                case Topic::ZoneScripting: {
                    const ZoneSetting& setting = ZoneSettings()[i];
                    return RowIdentity{"zone_scripting", scope,
                                       std::wstring(setting.caption) + L" (" +
                                           std::to_wstring(setting.url_action) + L")",
                                       std::to_string(setting.url_action)};
                }
                case Topic::PopupAllowedSites: {
                    const PopupSite& site = PopupSites()[i];
                    return RowIdentity{"popup_allowed", scope, std::wstring(site.host), IdPart(site.host)};
                }
            }
        }
    }
    return std::nullopt;
}

void MarkUserRowsUnavailable(std::vector<MarkerResult>& markers, const std::wstring& reason) {
    for (MarkerResult& marker : markers) {
        const std::optional<RowIdentity> identity = IdentifyMarker(marker.marker);
        if (identity && identity->scope == RowScope::User) {
            marker.finding = Finding{Outcome::CannotLook, reason, {}};
        }
    }
}

std::vector<MarkerResult> ExamineFor(RegistrySource& registry, const UserChoice& choice) {
    ExaminedUserRegistry examined(registry, choice.user.logged_on);
    std::vector<MarkerResult> markers = ExamineWorkstation(examined);
    if (!choice.user.logged_on) MarkUserRowsUnavailable(markers, choice.unavailable_reason);
    return markers;
}

std::wstring UserPlaceRoot(const UserChoice& choice) {
    if (choice.user.is_process_user || !choice.user.logged_on) return {};
    return L"HKU\\" + choice.user.sid;
}

RowVerdict VerdictOf(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok: return RowVerdict::Pass;
        case Outcome::Fail: return RowVerdict::Fail;
        case Outcome::CannotLook: return RowVerdict::Undecided;
    }
    return RowVerdict::Undecided;
}

std::vector<CheckResult> ToCheckResults(const std::vector<MarkerResult>& markers,
                                        const std::wstring& user_place_root) {
    std::vector<CheckResult> rows;
    rows.reserve(markers.size());
    for (const MarkerResult& marker : markers) {
        const std::optional<RowIdentity> identity = IdentifyMarker(marker.marker);
        CheckResult row;
        if (identity) {
            row.group = identity->group;
            row.scope = identity->scope;
            row.target = identity->target;
            row.id = identity->group + "." + std::string(ScopeWord(identity->scope)) + "." +
                     identity->id_target;
        } else {
            row.group = "markers";
            row.target = std::wstring(marker.marker);
            row.id = "markers." + IdPart(marker.marker);
        }
        row.verdict = VerdictOf(marker.finding.outcome);
        row.reason = marker.finding.reason;
        row.place = marker.finding.place;
        if (!user_place_root.empty()) {
            // The examiners say "HKCU"; the report names the hive that was really read.
            for (std::wstring* text : {&row.place, &row.reason}) {
                for (std::size_t at = text->find(L"HKCU\\"); at != std::wstring::npos;
                     at = text->find(L"HKCU\\", at + user_place_root.size())) {
                    text->replace(at, 4, user_place_root);
                }
            }
        }
        row.details.emplace_back("marker", std::wstring(marker.marker));
        rows.push_back(std::move(row));
    }
    return rows;
}

RowCounts Count(const std::vector<CheckResult>& rows) {
    RowCounts counts;
    for (const CheckResult& row : rows) {
        switch (row.verdict) {
            case RowVerdict::Pass: ++counts.pass; break;
            case RowVerdict::Fail: ++counts.fail; break;
            case RowVerdict::Undecided: ++counts.undecided; break;
        }
    }
    return counts;
}

int ExitCodeFor(const std::vector<CheckResult>& rows) {
    const RowCounts counts = Count(rows);
    if (counts.fail > 0) return exit_code::kSomethingFailed;
    if (counts.undecided > 0) return exit_code::kSomethingUndecided;
    return exit_code::kAllPassed;
}

std::string_view VerdictWord(RowVerdict verdict) {
    switch (verdict) {
        case RowVerdict::Pass: return "pass";
        case RowVerdict::Fail: return "fail";
        case RowVerdict::Undecided: return "undecided";
    }
    return "undecided";
}

std::string_view ScopeWord(RowScope scope) { return scope == RowScope::User ? "user" : "machine"; }

}  // namespace qtk::companion
