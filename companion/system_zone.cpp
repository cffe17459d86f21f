#include "companion/system_zone.h"

#include "companion/internet_settings.h"

namespace qtk::companion {
namespace {

std::wstring ZoneText(std::uint32_t zone) {
    return std::to_wstring(zone) + L" (" + ZoneName(zone) + L")";
}

}  // namespace

std::wstring ZoneProbeUrl(const TrustedSite& site) {
    std::wstring url(site.scheme);
    url += L"://";
    if (site.wildcard) url += L"any-host.";
    url += site.host;
    url += L'/';
    return url;
}

std::vector<ZoneComparison> CompareWithSystemZones(const std::vector<Finding>& user_findings,
                                                   ZoneMapper& mapper, const ExaminedUser& user) {
    std::vector<ZoneComparison> comparisons;
    std::size_t i = 0;
    for (const TrustedSite& site : TrustedSites()) {
        ZoneComparison c;
        c.target = SiteCaption(site);
        c.url = ZoneProbeUrl(site);
        const Finding* ours = i < user_findings.size() ? &user_findings[i] : nullptr;
        ++i;
        if (!user.logged_on) {
            c.note = L"not asked: nobody is logged on to ask for";
        } else if (!user.is_process_user) {
            c.note = L"not asked: the system's zone manager answers for the account this "
                     L"program runs as, not for the examined user" +
                     (user.name.empty() ? std::wstring() : L" " + user.name);
        } else {
            c.asked = true;
            const ZoneAnswer answer = mapper.MapUrlToZone(c.url);
            c.system_zone = answer.zone;
            if (!answer.zone) {
                c.note = L"the zone manager gave no zone: " + answer.error;
            } else if (ours == nullptr || ours->outcome == Outcome::CannotLook) {
                c.note = L"not compared: our own reading is undecided";
            } else {
                c.compared = true;
                const bool ours_trusted = ours->outcome == Outcome::Ok;
                const bool system_trusted = *answer.zone == kTrustedSitesZone;
                c.disagreement = ours_trusted != system_trusted;
                if (c.disagreement && ours_trusted) {
                    c.note = L"our reading of the user's settings passes it, but Windows maps it "
                             L"to " + ZoneText(*answer.zone);
                } else if (c.disagreement) {
                    c.note = L"Windows maps it to Trusted sites although the user's own settings "
                             L"do not (the machine's list or a policy may put it there)";
                }
            }
        }
        comparisons.push_back(std::move(c));
    }
    return comparisons;
}

void AddZoneDetails(const ZoneComparison& comparison, CheckResult* row) {
    if (comparison.system_zone) {
        row->details.emplace_back("system_zone", ZoneText(*comparison.system_zone));
    }
    if (comparison.asked) row->details.emplace_back("system_zone_url", comparison.url);
    if (comparison.compared) {
        row->details.emplace_back("zone_disagreement", comparison.disagreement ? L"yes" : L"no");
    }
    if (!comparison.note.empty()) row->details.emplace_back("system_zone_note", comparison.note);
}

std::vector<std::wstring> DisagreementLines(const std::vector<ZoneComparison>& comparisons) {
    std::vector<std::wstring> lines;
    for (const ZoneComparison& c : comparisons) {
        if (c.disagreement) lines.push_back(c.target + L": " + c.note);
    }
    return lines;
}

std::vector<ZoneComparison> AddSystemZones(std::vector<CheckResult>& rows, ZoneMapper& mapper,
                                           const ExaminedUser& user) {
    std::vector<CheckResult*> user_rows;
    std::vector<Finding> ours;
    for (const TrustedSite& site : TrustedSites()) {
        const std::wstring caption = SiteCaption(site);
        CheckResult* found = nullptr;
        for (CheckResult& row : rows) {
            if (row.group == kTrustedSitesGroup && row.scope == RowScope::User &&
                row.target == caption) {
                found = &row;
                break;
            }
        }
        user_rows.push_back(found);
        Finding finding{Outcome::CannotLook, L"", L""};
        if (found != nullptr && found->verdict != RowVerdict::Undecided) {
            finding.outcome = found->verdict == RowVerdict::Pass ? Outcome::Ok : Outcome::Fail;
        }
        ours.push_back(finding);
    }
    std::vector<ZoneComparison> comparisons = CompareWithSystemZones(ours, mapper, user);
    for (std::size_t i = 0; i < comparisons.size() && i < user_rows.size(); ++i) {
        if (user_rows[i] != nullptr) AddZoneDetails(comparisons[i], user_rows[i]);
    }
    return comparisons;
}

std::wstring ZoneDisagreementText(const std::vector<CheckResult>& rows) {
    std::wstring text;
    for (const CheckResult& row : rows) {
        bool differs = false;
        std::wstring note;
        for (const auto& [name, value] : row.details) {
            if (name == "zone_disagreement") differs = value == L"yes";
            if (name == "system_zone_note") note = value;
        }
        if (!differs) continue;
        if (text.empty()) text = L"Windows' own zone disagrees with the reading above:\n";
        std::wstring line = L"  " + row.target + L": " + note;
        for (wchar_t& c : line) {
            if (c < 0x20 || c == 0x7F) c = L'?';
        }
        text += line + L"\n";
    }
    return text;
}

}  // namespace qtk::companion
