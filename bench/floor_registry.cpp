// The registry floor of the examination benchmark: opens, enumerates and reads the keys
// and values the examination needs, each once, and judges nothing. What it costs is what
// any examination of this registry must pay; tkexamine's time over it is its own work.
//
// Where the examination would stop early (the first own-list location that speaks for a
// site), the floor reads every location: it never does less than an examination could.
// It also asks the system's zone manager about every trusted site through the same class
// the examination uses (urlmon loaded from System32, COM started), since that start-up is
// a fixed cost of any examination that sets Windows' answer beside its own.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "checks/contract.h"
#include "checks/tables.h"
#include "companion/registry_source.h"
#include "companion/site_names.h"
#include "companion/system_zone.h"
#include "companion/trusted_sites.h"
#include "companion/win32/zone_mapper.h"

namespace {

using namespace qtk;
using namespace qtk::companion;

unsigned long long g_touched = 0;  // reads that returned something, printed at the end

HKEY Open(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

void ReadValue(HKEY key, const wchar_t* name) {
    BYTE data[2048];
    DWORD size = sizeof data;
    if (RegQueryValueExW(key, name, nullptr, nullptr, data, &size) == ERROR_SUCCESS) ++g_touched;
}

std::vector<std::wstring> ValueNames(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD length = 16384;
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

void ReadOne(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* name) {
    if (HKEY key = Open(root, path, view)) {
        ReadValue(key, name);
        RegCloseKey(key);
    }
}

struct Root {
    HKEY root;
    REGSAM view;
};

}  // namespace

int wmain() {
    const std::wstring settings(keys::kInternetSettings);
    const std::wstring policy(keys::kPolicyInternetSettings);
    const Root hives[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}, {HKEY_CURRENT_USER, 0}};

    ReadOne(HKEY_LOCAL_MACHINE, policy, KEY_WOW64_64KEY, L"Security_HKLM_only");
    for (const Root& hive : hives) {
        // The Group Policy site lists, their switch and every value with its data.
        ReadOne(hive.root, policy, hive.view, L"ListBox_Support_ZoneMapKey");
        if (HKEY key = Open(hive.root, policy + L"\\ZoneMapKey", hive.view)) {
            for (const std::wstring& name : ValueNames(key)) ReadValue(key, name.c_str());
            RegCloseKey(key);
        }
        ReadOne(hive.root, settings + L"\\ZoneMap", hive.view, L"IEHarden");
        // The own list: the keys that may speak for each site, and their scheme values.
        for (const TrustedSite& site : TrustedSites()) {
            const SitePattern row{site.wildcard, FoldCase(site.host)};
            for (const SitePattern& pattern : DecidingPatterns(row)) {
                for (const std::wstring& location : OwnListLocations(pattern)) {
                    if (HKEY key = Open(hive.root, settings + L"\\ZoneMap\\Domains\\" + location, hive.view)) {
                        ReadValue(key, std::wstring(site.scheme).c_str());
                        ReadValue(key, L"*");
                        RegCloseKey(key);
                    }
                }
            }
        }
    }
    // Installed programs: every entry's DisplayName, in the four places.
    const std::wstring uninstall(keys::kUninstall);
    const Root places[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}, {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
                           {HKEY_CURRENT_USER, KEY_WOW64_64KEY}, {HKEY_CURRENT_USER, KEY_WOW64_32KEY}};
    for (const Root& place : places) {
        if (HKEY key = Open(place.root, uninstall, place.view)) {
            for (const std::wstring& product : SubkeyNames(key)) {
                ReadOne(place.root, uninstall + L"\\" + product, place.view, L"DisplayName");
            }
            RegCloseKey(key);
        }
    }
    // Zone settings, machine and user, policy and own.
    const std::pair<Root, std::wstring> zones[] = {
        {hives[0], policy}, {hives[0], settings}, {hives[1], policy}, {hives[1], settings}};
    for (const auto& [hive, base] : zones) {
        if (HKEY key = Open(hive.root, base + L"\\Zones\\2", hive.view)) {
            for (const ZoneSetting& setting : ZoneSettings()) {
                ReadValue(key, std::to_wstring(setting.url_action).c_str());
            }
            RegCloseKey(key);
        }
    }
    // The pop-up blocker's lists: the names are the hosts.
    const std::pair<Root, std::wstring> popups[] = {
        {hives[1], std::wstring(keys::kPopupAllow)},
        {hives[1], std::wstring(keys::kPolicyPopupAllow)},
        {hives[0], std::wstring(keys::kPolicyPopupAllow)}};
    for (const auto& [hive, path] : popups) {
        if (HKEY key = Open(hive.root, path, hive.view)) {
            g_touched += ValueNames(key).size();
            RegCloseKey(key);
        }
    }
    ReadOne(HKEY_LOCAL_MACHINE, std::wstring(kCurrentVersionKey), KEY_WOW64_64KEY, L"UBR");
    // Windows' own zone for each trusted site, asked as the examination asks it.
    {
        qtk::companion::win32::Win32ZoneMapper mapper;
        for (const TrustedSite& site : TrustedSites()) {
            if (mapper.MapUrlToZone(ZoneProbeUrl(site)).zone) ++g_touched;
        }
    }
    // Printed so that none of the work can be left out by the compiler.
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%llu\r\n", g_touched);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
    return 0;
}
