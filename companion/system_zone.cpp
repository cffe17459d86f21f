#include "companion/system_zone.h"

#include "companion/internet_settings.h"

namespace qtk::companion {
std::wstring ZoneText(std::uint32_t zone) {
    return std::to_wstring(zone) + L" (" + ZoneName(zone) + L")";
}

std::wstring ZoneProbeUrl(const TrustedSite& site) {
    std::wstring url(site.scheme);
    url += L"://";
    if (site.wildcard) url += L"any-host.";
    url += site.host;
    url += L'/';
    return url;
}

SystemZone AskSystemZone(const TrustedSite& site, RowVerdict ours, ZoneMapper& mapper,
                         const ExaminedUser& user) {
    SystemZone c;
    c.url = ZoneProbeUrl(site);
    if (!user.is_process_user) {
        c.note = L"not asked: the system's zone manager answers for the account this "
                 L"program runs as, not for the examined user" +
                 (user.name.empty() ? std::wstring() : L" " + user.name);
        return c;
    }
    c.asked = true;
    const ZoneAnswer answer = mapper.MapUrlToZone(c.url);
    c.zone = answer.zone;
    if (!answer.zone) {
        c.note = L"the zone manager gave no zone: " + answer.error;
    } else if (ours == RowVerdict::Undecided) {
        c.note = L"not compared: our own reading is undecided";
    } else {
        c.compared = true;
        const bool ours_trusted = ours == RowVerdict::Pass;
        const bool system_trusted = *answer.zone == kTrustedSitesZone;
        c.disagreement = ours_trusted != system_trusted;
        if (c.disagreement && ours_trusted) {
            c.note = L"our reading of the user's settings passes it, but Windows maps it to " +
                     ZoneText(*answer.zone);
        } else if (c.disagreement) {
            c.note = L"Windows maps it to Trusted sites although the user's own settings do "
                     L"not (the machine's list or a policy may put it there)";
        }
    }
    return c;
}

std::wstring ZoneDisagreementText(const std::vector<CheckResult>& rows) {
    std::wstring text;
    for (const CheckResult& row : rows) {
        if (!row.system_zone || !row.system_zone->disagreement) continue;
        if (text.empty()) text = L"Windows' own zone disagrees with the reading above:\n";
        std::wstring line = L"  " + row.target + L": " + row.system_zone->note;
        for (wchar_t& c : line) {
            if (c < 0x20 || c == 0x7F) c = L'?';
        }
        text += line + L"\n";
    }
    return text;
}

}  // namespace qtk::companion
