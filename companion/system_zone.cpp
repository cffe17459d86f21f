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
    if (comparison.asked && comparison.system_zone) {
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

}  // namespace qtk::companion
