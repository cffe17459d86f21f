// The software, zone-scripting and pop-up examinations, each decided from registry facts
// in an in-memory registry.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "checks/tables.h"
#include "companion/examination.h"
#include "companion/popup_allow.h"
#include "companion/software_install.h"
#include "fake_registry.h"
#include "companion/zone_scripting.h"

namespace qtk::companion {
namespace {

using testing::FakeRegistrySource;
using Setup = std::function<void(FakeRegistrySource&)>;

constexpr Hive kUser = Hive::CurrentUser;
constexpr Hive kMachine = Hive::LocalMachine;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// ---------------------------------------------------------------- software install

const std::wstring kUninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kClient = L"SafeNet Authentication Client 8.2";
const std::wstring kManager = L"SafeNet Authentication Manager Client 8.0 SP2";

void Installed(FakeRegistrySource& r, Hive hive, View view, const std::wstring& product,
               const std::wstring& name) {
    r.SetString(hive, view, kUninstall + L"\\" + product, L"DisplayName", name);
}

struct InstallCase {
    const char* label;
    Setup setup;
    RowVerdict client;
    RowVerdict manager;
};

TEST(SoftwareInstall, FindsEachPackageWhereverItRegistered) {
    const InstallCase cases[] = {
        {"nothing installed", [](auto&) {}, RowVerdict::Fail, RowVerdict::Fail},
        {"machine-wide, 64-bit view",
         [](auto& r) { Installed(r, kMachine, View::Bits64, L"{A1}", kClient); }, RowVerdict::Pass,
         RowVerdict::Fail},
        {"machine-wide, 32-bit view only",
         [](auto& r) { Installed(r, kMachine, View::Bits32, L"{B2}", kManager); }, RowVerdict::Fail,
         RowVerdict::Pass},
        {"per user", [](auto& r) { Installed(r, kUser, View::Native, L"SacUser", kClient); },
         RowVerdict::Pass, RowVerdict::Fail},
        {"both, in different places",
         [](auto& r) {
             Installed(r, kUser, View::Native, L"x", kManager);
             Installed(r, kMachine, View::Bits32, L"y", kClient);
         },
         RowVerdict::Pass, RowVerdict::Pass},
        {"case and blanks do not matter",
         [](auto& r) {
             Installed(r, kMachine, View::Bits64, L"{A1}", L"  safenet authentication CLIENT 8.2 ");
         },
         RowVerdict::Pass, RowVerdict::Fail},
        {"another version is another product",
         [](auto& r) {
             Installed(r, kMachine, View::Bits64, L"{A1}", L"SafeNet Authentication Client 8.3");
             Installed(r, kMachine, View::Bits64, L"{A2}", L"SafeNet Authentication Client 8.2 (x64)");
         },
         RowVerdict::Fail, RowVerdict::Fail},
        {"the client's name is not the manager's",
         [](auto& r) { Installed(r, kMachine, View::Bits64, L"{A1}", kClient); }, RowVerdict::Pass,
         RowVerdict::Fail},
        {"a DisplayName of another type is skipped",
         [](auto& r) { r.SetOther(kMachine, View::Bits64, kUninstall + L"\\{A1}", L"DisplayName"); },
         RowVerdict::Fail, RowVerdict::Fail},
        {"an unreadable place with the package elsewhere",
         [](auto& r) {
             r.DenyOpen(kMachine, View::Bits64, kUninstall);
             Installed(r, kMachine, View::Bits32, L"{A1}", kClient);
         },
         RowVerdict::Pass, RowVerdict::Undecided},
        {"a product key that may not be opened",
         [](auto& r) {
             Installed(r, kMachine, View::Bits64, L"{A1}", kClient);
             Installed(r, kMachine, View::Bits64, L"{Locked}", L"Something");
             r.DenyOpen(kMachine, View::Bits64, kUninstall + L"\\{Locked}");
         },
         RowVerdict::Pass, RowVerdict::Undecided},
        {"a list that may not be read",
         [](auto& r) {
             Installed(r, kUser, View::Native, L"x", kManager);
             r.DenyListing(kUser, View::Native, kUninstall);
         },
         RowVerdict::Undecided, RowVerdict::Undecided},
        {"a DisplayName that may not be read",
         [](auto& r) {
             Installed(r, kMachine, View::Bits64, L"{A1}", kClient);
             r.DenyRead(kMachine, View::Bits64, kUninstall + L"\\{A1}", L"DisplayName");
         },
         RowVerdict::Undecided, RowVerdict::Undecided},
    };
    ASSERT_EQ(SoftwarePackages().size(), 2u);
    for (const InstallCase& c : cases) {
        SCOPED_TRACE(c.label);
        FakeRegistrySource registry;
        c.setup(registry);
        const Finding client = ExamineSoftwareInstall(registry, SoftwarePackages()[0]);
        const Finding manager = ExamineSoftwareInstall(registry, SoftwarePackages()[1]);
        EXPECT_EQ(client.verdict, c.client) << Narrow(client.reason);
        EXPECT_EQ(manager.verdict, c.manager) << Narrow(manager.reason);
        EXPECT_EQ(registry.open_handles, 0);
    }
}

TEST(SoftwareInstall, SaysWhereItFoundThePackage) {
    FakeRegistrySource registry;
    Installed(registry, kMachine, View::Bits32, L"{B2}", kClient);
    const Finding finding = ExamineSoftwareInstall(registry, SoftwarePackages()[0]);
    ASSERT_EQ(finding.verdict, RowVerdict::Pass);
    EXPECT_NE(finding.reason.find(L"HKLM\\" + kUninstall + L"\\{B2} (32-bit view)"),
              std::wstring::npos)
        << Narrow(finding.reason);
}

// ---------------------------------------------------------------- zone scripting

const std::wstring kZone2 = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2";
const std::wstring kPolicySettings =
    L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const std::wstring kPolicyZone2 = kPolicySettings + L"\\Zones\\2";

void Zone(FakeRegistrySource& r, Hive hive, bool policy, const wchar_t* action, std::uint32_t v) {
    r.SetDword(hive, View::Native, policy ? kPolicyZone2 : kZone2, action, v);
}

const ZoneSetting& ActiveScripting() {
    for (const ZoneSetting& setting : ZoneSettings()) {
        if (setting.url_action == 1400) return setting;
    }
    throw std::logic_error("no active scripting row");
}

struct ZoneCase {
    const char* label;
    Setup setup;
    RowVerdict user;
    RowVerdict machine;
    const wchar_t* user_reason_has = nullptr;
};

TEST(ZoneScripting, DecidesActiveScriptingForBothScopes) {
    const ZoneCase cases[] = {
        {"set nowhere", [](auto&) {}, RowVerdict::Fail, RowVerdict::Fail, L"not set"},
        {"enabled for each", [](auto& r) {
             Zone(r, kUser, false, L"1400", 0);
             Zone(r, kMachine, false, L"1400", 0);
         }, RowVerdict::Pass, RowVerdict::Pass, L"Enable"},
        {"prompt is not enable", [](auto& r) { Zone(r, kUser, false, L"1400", 1); }, RowVerdict::Fail,
         RowVerdict::Fail, L"Prompt"},
        {"disable", [](auto& r) { Zone(r, kUser, false, L"1400", 3); }, RowVerdict::Fail,
         RowVerdict::Fail, L"Disable"},
        {"an odd value", [](auto& r) { Zone(r, kUser, false, L"1400", 0x10000); }, RowVerdict::Fail,
         RowVerdict::Fail, L"set to 65536"},
        {"the machine's setting is not the user's",
         [](auto& r) { Zone(r, kMachine, false, L"1400", 0); }, RowVerdict::Fail, RowVerdict::Pass},
        {"the user's setting is not the machine's",
         [](auto& r) { Zone(r, kUser, false, L"1400", 0); }, RowVerdict::Pass, RowVerdict::Fail},
        {"the user policy overrides the user's setting",
         [](auto& r) {
             Zone(r, kUser, false, L"1400", 0);
             Zone(r, kUser, true, L"1400", 3);
         },
         RowVerdict::Fail, RowVerdict::Fail, L"Policies"},
        {"the user policy may enable too",
         [](auto& r) {
             Zone(r, kUser, false, L"1400", 3);
             Zone(r, kUser, true, L"1400", 0);
         },
         RowVerdict::Pass, RowVerdict::Fail},
        {"the machine policy overrides the machine's setting",
         [](auto& r) {
             Zone(r, kMachine, false, L"1400", 0);
             Zone(r, kMachine, true, L"1400", 3);
         },
         RowVerdict::Fail, RowVerdict::Fail},
        {"the machine policy decides for the user before the user policy",
         [](auto& r) {
             Zone(r, kUser, true, L"1400", 3);
             Zone(r, kMachine, true, L"1400", 0);
         },
         RowVerdict::Pass, RowVerdict::Pass},
        {"machine settings only: the user gets the machine's",
         [](auto& r) {
             r.SetDword(kMachine, View::Native, kPolicySettings, L"Security_HKLM_only", 1);
             Zone(r, kUser, false, L"1400", 0);
             Zone(r, kMachine, false, L"1400", 3);
         },
         RowVerdict::Fail, RowVerdict::Fail, L"Security_HKLM_only"},
        {"machine settings only, machine enabled",
         [](auto& r) {
             r.SetDword(kMachine, View::Native, kPolicySettings, L"Security_HKLM_only", 1);
             Zone(r, kUser, false, L"1400", 3);
             Zone(r, kMachine, false, L"1400", 0);
         },
         RowVerdict::Pass, RowVerdict::Pass},
        {"the rule at 0 leaves the user's own",
         [](auto& r) {
             r.SetDword(kMachine, View::Native, kPolicySettings, L"Security_HKLM_only", 0);
             Zone(r, kUser, false, L"1400", 0);
         },
         RowVerdict::Pass, RowVerdict::Fail},
        {"the rule unreadable",
         [](auto& r) {
             Zone(r, kUser, false, L"1400", 0);
             r.DenyOpen(kMachine, View::Native, kPolicySettings);
         },
         RowVerdict::Undecided, RowVerdict::Fail},
        {"the zone key may not be opened",
         [](auto& r) {
             Zone(r, kUser, false, L"1400", 0);
             r.DenyOpen(kUser, View::Native, kZone2);
         },
         RowVerdict::Undecided, RowVerdict::Fail, L"access denied (error 5)"},
        {"a value of another type",
         [](auto& r) { r.SetString(kUser, View::Native, kZone2, L"1400", L"0"); },
         RowVerdict::Undecided, RowVerdict::Fail, L"unexpected value type"},
    };
    for (const ZoneCase& c : cases) {
        SCOPED_TRACE(c.label);
        FakeRegistrySource registry;
        c.setup(registry);
        ZoneScriptingExaminer examiner(registry);
        const Finding user = examiner.Examine(ActiveScripting(), kUser);
        const Finding machine = examiner.Examine(ActiveScripting(), kMachine);
        EXPECT_EQ(user.verdict, c.user) << Narrow(user.reason);
        EXPECT_EQ(machine.verdict, c.machine) << Narrow(machine.reason);
        if (c.user_reason_has != nullptr) {
            EXPECT_NE(user.reason.find(c.user_reason_has), std::wstring::npos) << Narrow(user.reason);
        }
        EXPECT_EQ(registry.open_handles, 0);
    }
}

// Each row reads the value of its own URL action, and its finding lands in its own marker.
TEST(ZoneScripting, EachActionIsReadUnderItsOwnNumber) {
    for (const ZoneSetting& enabled : ZoneSettings()) {
        SCOPED_TRACE(enabled.url_action);
        FakeRegistrySource registry;
        Zone(registry, kUser, false, std::to_wstring(enabled.url_action).c_str(), 0);
        Zone(registry, kMachine, false, std::to_wstring(enabled.url_action).c_str(), 0);
        for (const CheckResult& result : ExamineWorkstation(registry)) {
            bool is_zone_row = false;
            bool wanted = false;
            for (const ZoneSetting& setting : ZoneSettings()) {
                for (const CheckRow* row : {&setting.user, &setting.machine}) {
                    if (MarkerPath(*row) != result.marker) continue;
                    is_zone_row = true;
                    wanted = &setting == &enabled;
                }
            }
            if (!is_zone_row) continue;
            EXPECT_EQ(result.verdict, wanted ? RowVerdict::Pass : RowVerdict::Fail)
                << Narrow(result.marker);
        }
    }
}

// ---------------------------------------------------------------- pop-up blocker

const std::wstring kAllow = L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow";
const std::wstring kPolicyAllow = L"Software\\Policies\\Microsoft\\Internet Explorer\\New Windows\\Allow";

void Allow(FakeRegistrySource& r, Hive hive, const std::wstring& key, const std::wstring& host) {
    // The browser stores an empty binary value; only the name counts.
    r.SetOther(hive, View::Native, key, host);
}

struct PopupCase {
    const char* label;
    Setup setup;
    // tesk, brimmel, kessor, telmira
    RowVerdict expected[4];
};

TEST(PopupAllowedSites, DecidesEachHost) {
    constexpr RowVerdict O = RowVerdict::Pass, F = RowVerdict::Fail, C = RowVerdict::Undecided;
    const PopupCase cases[] = {
        {"nothing allowed", [](auto&) {}, {F, F, F, F}},
        {"one exact host in the user's list",
         [](auto& r) { Allow(r, kUser, kAllow, L"kessor.qrn.example"); }, {F, F, O, F}},
        {"the domain wildcard covers all four",
         [](auto& r) { Allow(r, kUser, kAllow, L"*.qrn.example"); }, {O, O, O, O}},
        {"a host's wildcard does not cover the host",
         [](auto& r) { Allow(r, kUser, kAllow, L"*.tesk.qrn.example"); }, {F, F, F, F}},
        // One label short of the host: the entry's domain is a tail of the host's name but
        // not at a dot. The first is as long as the host allows; the second reaches the
        // dot check itself.
        {"a wildcard one label short of the host",
         [](auto& r) { Allow(r, kUser, kAllow, L"*.esk.qrn.example"); }, {F, F, F, F}},
        {"a wildcard whose domain ends inside a label of the host",
         [](auto& r) {
             Allow(r, kUser, kAllow, L"*.sk.qrn.example");
             Allow(r, kUser, kAllow, L"*.or.qrn.example");
             Allow(r, kUser, kAllow, L"*.mel.qrn.example");
         },
         {F, F, F, F}},
        {"the bare domain does not cover its hosts",
         [](auto& r) { Allow(r, kUser, kAllow, L"qrn.example"); }, {F, F, F, F}},
        {"the user policy", [](auto& r) { Allow(r, kUser, kPolicyAllow, L"tesk.qrn.example"); },
         {O, F, F, F}},
        {"the machine policy",
         [](auto& r) { Allow(r, kMachine, kPolicyAllow, L"telmira.qrn.example"); }, {F, F, F, O}},
        {"the machine's own list is not read",
         [](auto& r) { Allow(r, kMachine, kAllow, L"*.qrn.example"); }, {F, F, F, F}},
        {"case and a scheme do not matter",
         [](auto& r) { Allow(r, kUser, kAllow, L"https://BRIMMEL.qrn.example/"); }, {F, O, F, F}},
        {"an unreadable list leaves the rest undecided",
         [](auto& r) {
             Allow(r, kUser, kAllow, L"tesk.qrn.example");
             r.DenyOpen(kMachine, View::Native, kPolicyAllow);
         },
         {O, C, C, C}},
        // The lists add up: each allows on its own, so a later one that allows the host
        // decides whatever an earlier one would have said.
        {"an unreadable first list while a later one allows the host",
         [](auto& r) {
             r.DenyOpen(kUser, View::Native, kAllow);
             Allow(r, kMachine, kPolicyAllow, L"tesk.qrn.example");
         },
         {O, C, C, C}},
        {"a first list that may not be listed while a later one allows the host",
         [](auto& r) {
             Allow(r, kUser, kAllow, L"kessor.qrn.example");
             r.DenyListing(kUser, View::Native, kAllow);
             Allow(r, kUser, kPolicyAllow, L"*.qrn.example");
         },
         {O, O, O, O}},
        {"a list that may not be listed",
         [](auto& r) {
             Allow(r, kUser, kPolicyAllow, L"*.qrn.example");
             r.DenyListing(kUser, View::Native, kPolicyAllow);
         },
         {C, C, C, C}},
    };
    ASSERT_EQ(PopupSites().size(), 4u);
    for (const PopupCase& c : cases) {
        SCOPED_TRACE(c.label);
        FakeRegistrySource registry;
        c.setup(registry);
        const PopupExaminer examiner(registry);
        EXPECT_EQ(registry.open_handles, 0);
        for (std::size_t i = 0; i < 4; ++i) {
            const Finding finding = examiner.Examine(PopupSites()[i]);
            EXPECT_EQ(finding.verdict, c.expected[i])
                << Narrow(std::wstring(PopupSites()[i].host)) << ": " << Narrow(finding.reason);
        }
    }
}

// One package installed, one host allowed: exactly their markers pass.
TEST(CheckWiring, EachFindingLandsInItsOwnMarker) {
    for (std::size_t chosen = 0; chosen < 2; ++chosen) {
        const SoftwarePackage& package = SoftwarePackages()[chosen];
        const PopupSite& popup = PopupSites()[chosen + 1];
        SCOPED_TRACE(std::string(package.row.label) + " and " + std::string(popup.row.label));
        FakeRegistrySource registry;
        Installed(registry, kMachine, View::Bits64, L"{X}", std::wstring(package.display_name));
        Allow(registry, kUser, kAllow, std::wstring(popup.host));
        for (const CheckResult& result : ExamineWorkstation(registry)) {
            const bool wanted =
                result.marker == MarkerPath(package.row) || result.marker == MarkerPath(popup.row);
            EXPECT_EQ(result.verdict, wanted ? RowVerdict::Pass : RowVerdict::Fail)
                << Narrow(result.marker);
        }
    }
}

}  // namespace
}  // namespace qtk::companion
