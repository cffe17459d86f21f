// The fix's plan: which of the user's own values turn each failing user row into a pass,
// in the layouts Microsoft documents, and which rows a policy holds.
#include "companion/fix_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "checks/tables.h"
#include "companion/examination.h"
#include "companion/user_fix.h"
#include "fake_registry.h"

namespace qtk::companion {
namespace {

using testing::FakeRegistrySource;

const std::wstring kSettings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const std::wstring kPolicySettings =
    L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

const RegistryChange* ChangeFor(const FixPlan& plan, const std::string& id) {
    for (const RegistryChange& change : plan.changes) {
        if (change.row_id == id) return &change;
    }
    return nullptr;
}

void Apply(FakeRegistrySource& registry, const FixPlan& plan) {
    UndoRecord record;
    ASSERT_FALSE(RecordUndo(plan, registry, &record).has_value());
    ASSERT_FALSE(ApplyFix(record, registry).failure.has_value());
}

// Each row shape goes where the zone-map layout (KB 182569) puts it.
TEST(FixPlan, EachRowBecomesTheDocumentedValue) {
    const struct {
        const char* id;
        std::wstring key;
        const wchar_t* value;
        std::uint32_t data;
    } cases[] = {
        {"trusted_sites.user.https:tesk.qrn.example", kSettings + L"\\ZoneMap\\Domains\\qrn.example\\tesk",
         L"https", 2},
        {"trusted_sites.user.https:*.qrn.example", kSettings + L"\\ZoneMap\\Domains\\qrn.example",
         L"https", 2},
        {"trusted_sites.user.https:*.hvk.qrn.example",
         kSettings + L"\\ZoneMap\\Domains\\qrn.example\\*.hvk", L"https", 2},
        {"trusted_sites.user.http:*.omvar.example", kSettings + L"\\ZoneMap\\Domains\\omvar.example",
         L"http", 2},
        {"zone_scripting.user.1400", kSettings + L"\\Zones\\2", L"1400", 0},
        {"popup_allowed.user.tesk.qrn.example",
         L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", L"tesk.qrn.example", 0},
    };
    FakeRegistrySource registry;
    registry.SetDword(Hive::CurrentUser, View::Native, kSettings + L"\\Zones\\2", L"1400", 3);
    const FixPlan plan = PlanFix(ExamineWorkstation(registry), registry);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const RegistryChange* change = ChangeFor(plan, c.id);
        ASSERT_NE(change, nullptr);
        EXPECT_EQ(change->key.hive, Hive::CurrentUser);
        EXPECT_EQ(Narrow(change->key.path), Narrow(c.key));
        EXPECT_EQ(Narrow(change->value), Narrow(c.value));
        if (!change->empty_binary) {
            EXPECT_EQ(change->dword, c.data);
        }
    }
}

// Applied, the plan turns exactly the user rows it names into passes, touches no machine
// or policy key, and a second plan finds nothing left to do.
TEST(FixPlan, AppliedItPassesTheUserRowsAndASecondPlanIsEmpty) {
    FakeRegistrySource registry;
    const std::vector<CheckResult> before = ExamineWorkstation(registry);
    const FixPlan plan = PlanFix(before, registry);
    EXPECT_TRUE(plan.held.empty());
    EXPECT_EQ(plan.changes.size(),
              TrustedSites().size() + ZoneSettings().size() + PopupSites().size());
    for (const RegistryChange& change : plan.changes) {
        EXPECT_EQ(change.key.hive, Hive::CurrentUser) << change.row_id;
        EXPECT_EQ(change.key.path.find(L"Policies"), std::wstring::npos) << change.row_id;
    }
    EXPECT_FALSE(plan.machine_rows.empty()) << "the machine rows fail and are left alone";
    Apply(registry, plan);
    const std::vector<CheckResult> after = ExamineWorkstation(registry);
    for (const CheckResult& row : after) {
        SCOPED_TRACE(row.id);
        const bool planned = ChangeFor(plan, row.id) != nullptr;
        const bool user_row = row.scope == RowScope::User && row.group != kSoftwareGroup;
        EXPECT_EQ(planned, user_row);
        if (planned) {
            EXPECT_EQ(row.verdict, RowVerdict::Pass) << Narrow(row.reason);
        }
        if (row.scope == RowScope::Machine) {
            EXPECT_EQ(row.verdict, RowVerdict::Fail);
        }
    }
    const FixPlan again = PlanFix(after, registry);
    EXPECT_TRUE(again.changes.empty());
    EXPECT_TRUE(again.held.empty());
}

TEST(FixPlan, RowsAPolicyHoldsAreLeftAloneWithThePolicyNamed) {
    const struct {
        const char* label;
        std::function<void(FakeRegistrySource&)> setup;
        const char* id;
        const wchar_t* reason_has;
    } cases[] = {
        {"machine settings only hold a trusted site",
         [](auto& r) {
             r.SetDword(Hive::LocalMachine, View::Bits64, kPolicySettings, L"Security_HKLM_only", 1);
         },
         "trusted_sites.user.https:tesk.qrn.example", L"Security_HKLM_only"},
        {"machine settings only hold a zone setting",
         [](auto& r) {
             r.SetDword(Hive::LocalMachine, View::Bits64, kPolicySettings, L"Security_HKLM_only", 1);
         },
         "zone_scripting.user.1400", L"Security_HKLM_only"},
        {"the machine's Site to Zone Assignment List in force",
         [](auto& r) {
             r.SetDword(Hive::LocalMachine, View::Bits64, kPolicySettings,
                        L"ListBox_Support_ZoneMapKey", 1);
         },
         "trusted_sites.user.https:tesk.qrn.example", L"Site to Zone Assignment List"},
        {"the user's Site to Zone Assignment List in force",
         [](auto& r) {
             r.SetDword(Hive::CurrentUser, View::Native, kPolicySettings,
                        L"ListBox_Support_ZoneMapKey", 1);
         },
         "trusted_sites.user.https:*.qrn.example", L"Site to Zone Assignment List"},
        {"a zone setting the user policy sets to Disable",
         [](auto& r) {
             r.SetDword(Hive::CurrentUser, View::Native, kPolicySettings + L"\\Zones\\2", L"1400", 3);
         },
         "zone_scripting.user.1400", L"1400"},
        {"a configured pop-up allow list",
         [](auto& r) {
             r.SetOther(Hive::LocalMachine, View::Bits64,
                        L"Software\\Policies\\Microsoft\\Internet Explorer\\New Windows\\Allow",
                        L"other.example");
         },
         "popup_allowed.user.tesk.qrn.example", L"pop-up allow list"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeRegistrySource registry;
        c.setup(registry);
        const FixPlan plan = PlanFix(ExamineWorkstation(registry), registry);
        EXPECT_EQ(ChangeFor(plan, c.id), nullptr) << "no change for a held row";
        const auto held = std::find_if(plan.held.begin(), plan.held.end(),
                                       [&](const HeldRow& h) { return h.row_id == c.id; });
        ASSERT_NE(held, plan.held.end());
        EXPECT_NE(held->reason.find(c.reason_has), std::wstring::npos) << Narrow(held->reason);
        EXPECT_NE(held->reason.find(L"administrator"), std::wstring::npos);
    }
}

// What --what-if prints: the key (in the hive that would really change), the value, its old
// and new data and the row, then the rows left alone with their reasons.
TEST(FixPlan, TextNamesKeyValueOldAndNewData) {
    FakeRegistrySource registry;
    registry.SetDword(Hive::CurrentUser, View::Native, kSettings + L"\\Zones\\2", L"1400", 3);
    registry.SetDword(Hive::CurrentUser, View::Native, kPolicySettings + L"\\Zones\\2", L"1201", 3);
    const FixPlan plan = PlanFix(ExamineWorkstation(registry), registry);
    UndoRecord record;
    ASSERT_FALSE(RecordUndo(plan, registry, &record).has_value());
    const std::string text = Narrow(FixPlanText(plan, record, L"HKU\\S-1-5-21-1-2-3-1001"));
    for (const char* line :
         {"  HKU\\S-1-5-21-1-2-3-1001\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
          "Settings\\Zones\\2 value 1400: REG_DWORD 3 -> REG_DWORD 0 [zone_scripting.user.1400]\n",
          "\\ZoneMap\\Domains\\qrn.example\\tesk value https: absent -> REG_DWORD 2 "
          "[trusted_sites.user.https:tesk.qrn.example]\n",
          "New Windows\\Allow value tesk.qrn.example: absent -> REG_BINARY (empty) "
          "[popup_allowed.user.tesk.qrn.example]\n",
          "Left alone, held by a policy:\n  zone_scripting.user.1201: held by a policy",
          "Left alone, the machine's settings"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n--- in ---\n" << text;
    }
    EXPECT_EQ(text.find("HKCU\\"), std::string::npos) << "the hive that would change is named";
    EXPECT_EQ(Narrow(FixPlanText(FixPlan{}, UndoRecord{}, L"")),
              "Nothing for a fix to change in this user's own settings.\n");
}

}  // namespace
}  // namespace qtk::companion
