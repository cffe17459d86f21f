// Runs the IE-mode examination and the system-zone comparison with their Win32 halves
// (WinHTTP, XmlLite, urlmon) on the prefix it runs in, and prints one line per row:
//   ie_mode <TAB> site <TAB> pass|fail|undecided <TAB> reason
//   zone    <TAB> site <TAB> zone number or - <TAB> yes|no|- (disagreement) <TAB> note
// Text is printed as ASCII with \, tab and line ends escaped, as the bench's probe does.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "checks/tables.h"
#include "companion/ie_mode.h"
#include "companion/system_zone.h"
#include "companion/trusted_sites.h"
#include "companion/win32/site_list_fetch.h"
#include "companion/win32/win32_registry.h"
#include "companion/win32/xml_site_list.h"
#include "companion/win32/zone_mapper.h"

namespace companion = qtk::companion;

namespace {

std::string Field(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text) {
        if (c == L'\\') out += "\\\\";
        else if (c == L'\t') out += "\\t";
        else if (c == L'\n') out += "\\n";
        else if (c == L'\r') out += "\\r";
        else out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return out;
}

const char* VerdictWord(companion::RowVerdict verdict) {
    switch (verdict) {
        case companion::RowVerdict::Pass: return "pass";
        case companion::RowVerdict::Fail: return "fail";
        default: return "undecided";
    }
}

}  // namespace

int wmain() {
    companion::win32::Win32RegistrySource registry;
    companion::win32::Win32SiteListFetcher fetcher;
    companion::win32::XmlLiteSiteListParser parser;
    const companion::ExaminedUser self;
    for (const companion::CheckResult& row :
         companion::ExamineIeMode(registry, fetcher, parser, self)) {
        std::printf("ie_mode\t%s\t%s\t%s\n", Field(row.target).c_str(), VerdictWord(row.verdict),
                    Field(row.reason).c_str());
    }
    std::vector<companion::Finding> ours;
    {
        companion::TrustedSiteExaminer examiner(registry);
        for (const qtk::TrustedSite& site : qtk::TrustedSites()) {
            ours.push_back(examiner.Examine(site, companion::Hive::CurrentUser));
        }
    }
    companion::win32::Win32ZoneMapper mapper;
    for (const companion::ZoneComparison& c :
         companion::CompareWithSystemZones(ours, mapper, self)) {
        const std::string zone = c.system_zone ? std::to_string(*c.system_zone) : "-";
        const char* differs = !c.compared ? "-" : c.disagreement ? "yes" : "no";
        std::printf("zone\t%s\t%s\t%s\t%s\n", Field(c.target).c_str(), zone.c_str(), differs,
                    Field(c.note).c_str());
    }
    return 0;
}
