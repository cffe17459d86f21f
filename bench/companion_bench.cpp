// What the examination costs on big registries, over the in-memory registry of the unit
// tests: uninstall keys by the ten thousand, policy site lists and pop-up allow lists by
// the twenty thousand. Each size is set against a floor measured in the same run: one
// plain pass over the same entries (list the names, open each key or read each value
// once), which is the least any examination that looks at every entry must do. A ratio
// that stays flat as the size grows is linear; one that grows with it is not.
//
// Options: --scale=F multiplies every size (default 1; the smoke test uses 0.02).
//          --repeat=N runs each measure N times and keeps the fastest (default 3).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "companion/examination.h"
#include "fake_registry.h"

namespace {

using namespace qtk::companion;
using qtk::companion::testing::FakeRegistrySource;

const std::wstring kUninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kPolicySettings =
    L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const std::wstring kZoneMapKey = kPolicySettings + L"\\ZoneMapKey";
const std::wstring kPopupAllow = L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";
const std::wstring kPolicyPopupAllow =
    L"Software\\Policies\\Microsoft\\Internet Explorer\\New Windows\\Allow";

int g_repeat = 3;

double FastestMs(const std::function<void()>& run) {
    double best = 1e300;
    for (int i = 0; i < g_repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

// Uninstall keys spread as a big machine has them: most in the 64-bit view, a third as
// many in the 32-bit one, a few per user. None is a package the examination looks for,
// so every one of them is read.
void FillUninstall(FakeRegistrySource& registry, int keys) {
    const struct {
        Hive hive;
        View view;
        int share;  // in tenths
    } places[] = {{Hive::LocalMachine, View::Bits64, 6},
                  {Hive::LocalMachine, View::Bits32, 3},
                  {Hive::CurrentUser, View::Native, 1}};
    int made = 0;
    for (const auto& place : places) {
        const int count = place.hive == Hive::CurrentUser ? keys - made : keys * place.share / 10;
        for (int i = 0; i < count; ++i, ++made) {
            const std::wstring key = kUninstall + L"\\{" + std::to_wstring(made) + L"-product}";
            registry.SetString(place.hive, place.view, key, L"DisplayName",
                               L"Some Product " + std::to_wstring(made));
        }
    }
}

// Site-list entries, half per scope for the policy lists, a third per list for the pop-ups.
void FillLists(FakeRegistrySource& registry, int policy, int popup) {
    // The lists are in force as Group Policy writes them: with the switch beside them.
    registry.SetDword(Hive::LocalMachine, View::Bits64, kPolicySettings, L"ListBox_Support_ZoneMapKey", 1);
    registry.SetDword(Hive::CurrentUser, View::Native, kPolicySettings, L"ListBox_Support_ZoneMapKey", 1);
    for (int i = 0; i < policy; ++i) {
        const Hive hive = i % 2 ? Hive::CurrentUser : Hive::LocalMachine;
        registry.SetString(hive, hive == Hive::LocalMachine ? View::Bits64 : View::Native,
                           kZoneMapKey, L"https://host" + std::to_wstring(i) + L".example.org",
                           L"2");
    }
    const struct {
        Hive hive;
        View view;
        const std::wstring* path;
    } lists[] = {{Hive::CurrentUser, View::Native, &kPopupAllow},
                 {Hive::CurrentUser, View::Native, &kPolicyPopupAllow},
                 {Hive::LocalMachine, View::Bits64, &kPolicyPopupAllow}};
    for (int i = 0; i < popup; ++i) {
        const auto& list = lists[i % 3];
        registry.SetDword(list.hive, list.view, *list.path,
                          L"*.site" + std::to_wstring(i) + L".example.net", 0);
    }
}

// Zone map entries under each scope's own list, one key per host with its https zone.
const std::wstring kDomains =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";

void FillDomains(FakeRegistrySource& registry, int entries) {
    for (int i = 0; i < entries; ++i) {
        const Hive hive = i % 2 ? Hive::CurrentUser : Hive::LocalMachine;
        registry.SetDword(hive, hive == Hive::LocalMachine ? View::Bits64 : View::Native,
                          kDomains + L"\\host" + std::to_wstring(i) + L".example.org", L"https", 2);
    }
}

// The floor: every zone map key listed and opened once.
void PassOverDomains(FakeRegistrySource& registry) {
    for (const auto& [hive, view] : {std::pair{Hive::LocalMachine, View::Bits64},
                                     std::pair{Hive::CurrentUser, View::Native}}) {
        KeyHandle key = 0;
        if (registry.OpenKey(hive, kDomains, view, &key) != 0) continue;
        std::vector<std::wstring> names;
        registry.ListSubkeys(key, &names);
        for (const std::wstring& name : names) {
            KeyHandle entry = 0;
            if (registry.OpenKey(hive, kDomains + L"\\" + name, view, &entry) != 0) continue;
            std::uint32_t zone = 0;
            registry.ReadDword(entry, L"https", &zone);
            registry.CloseKey(entry);
        }
        registry.CloseKey(key);
    }
}

// The floor: every uninstall key listed, opened and its DisplayName read once.
void PassOverUninstall(FakeRegistrySource& registry) {
    for (const auto& [hive, view] : {std::pair{Hive::LocalMachine, View::Bits64},
                                     std::pair{Hive::LocalMachine, View::Bits32},
                                     std::pair{Hive::CurrentUser, View::Native}}) {
        KeyHandle key = 0;
        if (registry.OpenKey(hive, kUninstall, view, &key) != 0) continue;
        std::vector<std::wstring> names;
        registry.ListSubkeys(key, &names);
        for (const std::wstring& name : names) {
            KeyHandle product = 0;
            if (registry.OpenKey(hive, kUninstall + L"\\" + name, view, &product) != 0) continue;
            std::wstring display;
            registry.ReadString(product, L"DisplayName", &display);
            registry.CloseKey(product);
        }
        registry.CloseKey(key);
    }
}

// The floor: every list's names listed and each value read once.
void PassOverLists(FakeRegistrySource& registry) {
    const struct {
        Hive hive;
        View view;
        const std::wstring* path;
    } lists[] = {{Hive::LocalMachine, View::Bits64, &kZoneMapKey},
                 {Hive::CurrentUser, View::Native, &kZoneMapKey},
                 {Hive::CurrentUser, View::Native, &kPopupAllow},
                 {Hive::CurrentUser, View::Native, &kPolicyPopupAllow},
                 {Hive::LocalMachine, View::Bits64, &kPolicyPopupAllow}};
    for (const auto& list : lists) {
        KeyHandle key = 0;
        if (registry.OpenKey(list.hive, *list.path, list.view, &key) != 0) continue;
        std::vector<std::wstring> names;
        registry.ListValues(key, &names);
        for (const std::wstring& name : names) {
            std::wstring text;
            std::uint32_t number = 0;
            if (registry.ReadString(key, name, &text) != 0) registry.ReadDword(key, name, &number);
        }
        registry.CloseKey(key);
    }
}

void Measure(const char* what, int entries, FakeRegistrySource& registry,
             const std::function<void(FakeRegistrySource&)>& floor) {
    const int opens_before = registry.opens;
    ExamineWorkstation(registry);
    const int examine_opens = registry.opens - opens_before;
    floor(registry);
    const int floor_opens = registry.opens - opens_before - examine_opens;
    const double examine = FastestMs([&] { ExamineWorkstation(registry); });
    const double pass = FastestMs([&] { floor(registry); });
    std::printf("  %-30s %6d: examination %8.1f ms, %6d key opens; one plain pass %8.1f ms, "
                "%6d opens; ratio %5.2f (time), %5.2f (opens)\n",
                what, entries, examine, examine_opens, pass, floor_opens, examine / pass,
                static_cast<double>(examine_opens) / floor_opens);
}

}  // namespace

int main(int argc, char** argv) {
    double scale = 1.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--scale=", 8) == 0) scale = std::atof(argv[i] + 8);
        if (std::strncmp(argv[i], "--repeat=", 9) == 0) g_repeat = std::max(1, std::atoi(argv[i] + 9));
    }
    std::printf("The companion's examination on big registries (in-memory registry, fastest of %d)\n",
                g_repeat);
    for (const int keys : {10000, 30000}) {
        const int n = std::max(1, static_cast<int>(keys * scale));
        FakeRegistrySource registry;
        FillUninstall(registry, n);
        Measure("uninstall keys", n, registry, PassOverUninstall);
    }
    for (const int entries : {20000, 60000}) {
        const int n = std::max(1, static_cast<int>(entries * scale));
        FakeRegistrySource registry;
        FillLists(registry, n, n);
        Measure("policy + pop-up entries (each)", n, registry, PassOverLists);
    }
    // The own lists are not scanned at all: each row opens the few keys that could name
    // it, so the cost stays the same however many entries the lists hold.
    for (const int entries : {20000, 60000}) {
        const int n = std::max(1, static_cast<int>(entries * scale));
        FakeRegistrySource registry;
        FillDomains(registry, n);
        Measure("zone map entries (both scopes)", n, registry, PassOverDomains);
    }
    return 0;
}
