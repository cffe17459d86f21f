// The trusted-sites examination: which registry entries put a row's site in the Trusted
// sites zone, for which scope, and when the companion has to say it cannot tell.
#include "companion/trusted_sites.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "checks/tables.h"
#include "companion/examination.h"
#include "companion/site_names.h"
#include "fake_registry.h"

namespace qtk::companion {
namespace {

using testing::FakeRegistrySource;

constexpr Hive kUser = Hive::CurrentUser;
constexpr Hive kMachine = Hive::LocalMachine;

const std::wstring kZoneMap =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap";
const std::wstring kDomains = kZoneMap + L"\\Domains";
const std::wstring kEscDomains = kZoneMap + L"\\EscDomains";
const std::wstring kPolicySettings =
    L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const std::wstring kZoneMapKey = kPolicySettings + L"\\ZoneMapKey";

const TrustedSite& Site(std::string_view caption_label) {
    for (const TrustedSite& site : TrustedSites()) {
        if (site.caption_label == caption_label) return site;
    }
    throw std::logic_error("no such site row");
}

// The rows by what they stand for, so that a case reads like the configuration it tests.
constexpr std::string_view kTesk = "lbteskquorin";         // https://tesk.qrn.example
constexpr std::string_view kKessor = "lbkessor";           // https://kessor.qrn.example
constexpr std::string_view kHalvekGo = "lbhalvekgo";       // https://*.halvek.example
constexpr std::string_view kHvkQuorin = "lbhalvekquorin";  // https://*.hvk.qrn.example
constexpr std::string_view kQuorin = "lbquorin";           // https://*.qrn.example
constexpr std::string_view kDrosk = "lbdroskgo";           // https://*.drosk.example
constexpr std::string_view kOmvar = "lbomvar";             // http://*.omvar.example

void Own(FakeRegistrySource& r, Hive hive, const std::wstring& key, const std::wstring& name,
         std::uint32_t zone, const std::wstring& base = kDomains) {
    r.SetDword(hive, View::Native, base + L"\\" + key, name, zone);
}

// As Group Policy writes the Site to Zone Assignment List when it is enabled: the switch
// beside the list, and one value per site.
void Policy(FakeRegistrySource& r, Hive hive, const std::wstring& name, const std::wstring& zone) {
    r.SetDword(hive, View::Native, kPolicySettings, L"ListBox_Support_ZoneMapKey", 1);
    r.SetString(hive, View::Native, kZoneMapKey, name, zone);
}

void Server(FakeRegistrySource& r, const wchar_t* product_type) {
    r.SetString(kMachine, View::Native, L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                L"ProductType", product_type);
}

struct Case {
    const char* label;
    std::function<void(FakeRegistrySource&)> setup;
    std::string_view row;
    Hive scope;
    RowVerdict expected;
    const wchar_t* reason_has = nullptr;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class TrustedSiteCase : public ::testing::TestWithParam<Case> {};

TEST_P(TrustedSiteCase, DecidesTheRow) {
    const Case& c = GetParam();
    FakeRegistrySource registry;
    c.setup(registry);
    Finding finding;
    {
        TrustedSiteExaminer examiner(registry);
        finding = examiner.Examine(Site(c.row), c.scope);
    }
    EXPECT_EQ(finding.verdict, c.expected) << std::string(finding.reason.begin(), finding.reason.end());
    if (c.reason_has != nullptr) {
        EXPECT_NE(finding.reason.find(c.reason_has), std::wstring::npos)
            << std::string(finding.reason.begin(), finding.reason.end());
    }
    EXPECT_EQ(registry.open_handles, 0) << "a key was left open";
}

const Case kOwnListCases[] = {
    {"nothing configured", [](auto&) {}, kTesk, kUser, RowVerdict::Fail},
    {"exact host as a sub-key of its domain",
     [](auto& r) { Own(r, kUser, L"qrn.example\\tesk", L"https", 2); }, kTesk, kUser, RowVerdict::Pass,
     L"qrn.example\\tesk"},
    {"a user entry is not a machine entry",
     [](auto& r) { Own(r, kUser, L"qrn.example\\tesk", L"https", 2); }, kTesk, kMachine,
     RowVerdict::Fail},
    {"a machine entry is not a user entry",
     [](auto& r) { Own(r, kMachine, L"qrn.example\\tesk", L"https", 2); }, kTesk, kUser,
     RowVerdict::Fail},
    {"machine entry for the machine",
     [](auto& r) { Own(r, kMachine, L"qrn.example\\tesk", L"https", 2); }, kTesk, kMachine,
     RowVerdict::Pass, L"HKLM\\"},
    {"wrong scheme: http for an https row",
     [](auto& r) { Own(r, kUser, L"qrn.example\\tesk", L"http", 2); }, kTesk, kUser,
     RowVerdict::Fail},
    {"star value covers https", [](auto& r) { Own(r, kUser, L"qrn.example\\tesk", L"*", 2); },
     kTesk, kUser, RowVerdict::Pass},
    {"star value covers http", [](auto& r) { Own(r, kUser, L"omvar.example", L"*", 2); }, kOmvar,
     kUser, RowVerdict::Pass},
    {"the http row wants http, not https",
     [](auto& r) { Own(r, kUser, L"omvar.example", L"https", 2); }, kOmvar, kUser, RowVerdict::Fail},
    {"the http row with http", [](auto& r) { Own(r, kUser, L"omvar.example", L"http", 2); },
     kOmvar, kUser, RowVerdict::Pass},
    {"wildcard row as a value on the domain key",
     [](auto& r) { Own(r, kUser, L"halvek.example", L"https", 2); }, kHalvekGo, kUser,
     RowVerdict::Pass},
    {"wildcard row as a star sub-key", [](auto& r) { Own(r, kUser, L"halvek.example\\*", L"https", 2); },
     kHalvekGo, kUser, RowVerdict::Pass},
    {"one host does not trust its whole domain",
     [](auto& r) { Own(r, kUser, L"qrn.example\\tesk", L"https", 2); }, kQuorin, kUser,
     RowVerdict::Fail},
    {"the domain key trusts a host below it",
     [](auto& r) { Own(r, kUser, L"qrn.example", L"https", 2); }, kTesk, kUser, RowVerdict::Pass},
    {"wildcard sub-domain as a *. sub-key",
     [](auto& r) { Own(r, kUser, L"qrn.example\\*.hvk", L"https", 2); }, kHvkQuorin, kUser,
     RowVerdict::Pass},
    {"the host hvk.qrn.example is not the hosts below it",
     [](auto& r) { Own(r, kUser, L"qrn.example\\hvk", L"https", 2); }, kHvkQuorin, kUser,
     RowVerdict::Fail},
    {"a broader wildcard covers a narrower one",
     [](auto& r) { Own(r, kUser, L"qrn.example", L"https", 2); }, kHvkQuorin, kUser, RowVerdict::Pass},
    {"a wildcard sub-key does not reach a sibling host",
     [](auto& r) { Own(r, kUser, L"qrn.example\\*.hvk", L"https", 2); }, kTesk, kUser,
     RowVerdict::Fail},
    {"the whole host as a domain key", [](auto& r) { Own(r, kUser, L"tesk.qrn.example", L"https", 2); },
     kTesk, kUser, RowVerdict::Pass},
    {"another zone is a fail that names it",
     [](auto& r) { Own(r, kUser, L"drosk.example", L"https", 1); }, kDrosk, kUser, RowVerdict::Fail,
     L"Local intranet"},
    {"the scheme's own value before star on the same key",
     [](auto& r) {
         Own(r, kUser, L"qrn.example\\tesk", L"https", 3);
         Own(r, kUser, L"qrn.example\\tesk", L"*", 2);
     },
     kTesk, kUser, RowVerdict::Fail, L"Internet"},
    {"a more specific entry beats the domain's",
     [](auto& r) {
         Own(r, kUser, L"qrn.example", L"https", 2);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 4);
     },
     kTesk, kUser, RowVerdict::Fail, L"Restricted sites"},
    {"a more specific key silent on the scheme leaves it to the domain",
     [](auto& r) {
         Own(r, kUser, L"qrn.example", L"https", 2);
         Own(r, kUser, L"qrn.example\\tesk", L"http", 3);
     },
     kTesk, kUser, RowVerdict::Pass},
    {"names compare without regard to case",
     [](auto& r) { Own(r, kUser, L"QRN.Example\\Tesk", L"HTTPS", 2); }, kTesk, kUser, RowVerdict::Pass},
    {"another host of the same domain does not count",
     [](auto& r) { Own(r, kUser, L"qrn.example\\kessor", L"https", 2); }, kTesk, kUser,
     RowVerdict::Fail},
    {"a key that may not be opened",
     [](auto& r) {
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
         r.DenyOpen(kUser, View::Native, kDomains + L"\\qrn.example\\tesk");
     },
     kTesk, kUser, RowVerdict::Undecided, L"access denied (error 5) reading HKCU\\"},
    {"a denied key elsewhere does not matter",
     [](auto& r) {
         Own(r, kUser, L"halvek.example", L"https", 2);
         r.DenyOpen(kUser, View::Native, kDomains + L"\\qrn.example");
     },
     kHalvekGo, kUser, RowVerdict::Pass},
    {"a zone that is not a DWORD",
     [](auto& r) { r.SetString(kUser, View::Native, kDomains + L"\\qrn.example\\tesk", L"https", L"2"); },
     kTesk, kUser, RowVerdict::Undecided, L"unexpected value type"},
    {"ZoneMap that may not be opened",
     [](auto& r) {
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
         r.DenyOpen(kUser, View::Native, kZoneMap);
     },
     kTesk, kUser, RowVerdict::Undecided},
};
INSTANTIATE_TEST_SUITE_P(OwnList, TrustedSiteCase, ::testing::ValuesIn(kOwnListCases));

const Case kEscCases[] = {
    {"enhanced security reads EscDomains",
     [](auto& r) {
         Server(r, L"ServerNT");
         r.SetDword(kUser, View::Native, kZoneMap, L"IEHarden", 1);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2, kEscDomains);
     },
     kTesk, kUser, RowVerdict::Pass, L"EscDomains"},
    {"enhanced security ignores Domains",
     [](auto& r) {
         Server(r, L"ServerNT");
         r.SetDword(kUser, View::Native, kZoneMap, L"IEHarden", 1);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Fail},
    {"without it EscDomains is ignored",
     [](auto& r) { Own(r, kUser, L"qrn.example\\tesk", L"https", 2, kEscDomains); }, kTesk,
     kUser, RowVerdict::Fail},
    {"enhanced security is per scope",
     [](auto& r) {
         Server(r, L"ServerNT");
         r.SetDword(kMachine, View::Native, kZoneMap, L"IEHarden", 1);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
         Own(r, kMachine, L"qrn.example\\tesk", L"https", 2, kEscDomains);
     },
     kTesk, kUser, RowVerdict::Pass},
    {"machine under enhanced security",
     [](auto& r) {
         Server(r, L"LanmanNT");
         r.SetDword(kMachine, View::Native, kZoneMap, L"IEHarden", 1);
         Own(r, kMachine, L"qrn.example\\tesk", L"https", 2, kEscDomains);
     },
     kTesk, kMachine, RowVerdict::Pass},
    // Enhanced Security Configuration exists on Windows Server only: a workstation's
    // IEHarden (left by an image or a tool) changes nothing, and Domains decides.
    {"a workstation has no enhanced security: Domains decides",
     [](auto& r) {
         Server(r, L"WinNT");
         r.SetDword(kUser, View::Native, kZoneMap, L"IEHarden", 1);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Pass, L"\\Domains\\"},
    {"a workstation's EscDomains is no list in force",
     [](auto& r) {
         Server(r, L"WinNT");
         r.SetDword(kMachine, View::Native, kZoneMap, L"IEHarden", 1);
         Own(r, kMachine, L"qrn.example\\tesk", L"https", 2, kEscDomains);
     },
     kTesk, kMachine, RowVerdict::Fail},
    {"without a product type nothing says it is a server",
     [](auto& r) {
         r.SetDword(kUser, View::Native, kZoneMap, L"IEHarden", 1);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Pass},
    {"a product type that may not be read leaves enhanced security open",
     [](auto& r) {
         r.DenyOpen(kMachine, View::Native, L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions");
         r.SetDword(kUser, View::Native, kZoneMap, L"IEHarden", 1);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Undecided, L"ProductOptions"},
};
INSTANTIATE_TEST_SUITE_P(EnhancedSecurity, TrustedSiteCase, ::testing::ValuesIn(kEscCases));

const Case kPolicyCases[] = {
    {"a policy entry alone", [](auto& r) { Policy(r, kUser, L"https://tesk.qrn.example", L"2"); },
     kTesk, kUser, RowVerdict::Pass, L"ZoneMapKey"},
    {"a policy entry overrides the own list",
     [](auto& r) {
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
         Policy(r, kUser, L"https://tesk.qrn.example", L"3");
     },
     kTesk, kUser, RowVerdict::Fail, L"Internet"},
    {"a policy list replaces the own list",
     [](auto& r) {
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
         Policy(r, kUser, L"https://kessor.qrn.example", L"2");
     },
     kTesk, kUser, RowVerdict::Fail, L"not on the policy site list"},
    // The list is in force because it holds values, not because one of them names a site.
    {"a policy list of values naming no site still replaces the own list",
     [](auto& r) {
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
         Policy(r, kUser, L"*", L"2");
     },
     kTesk, kUser, RowVerdict::Fail, L"not on the policy site list"},
    {"a machine policy list of values naming no site decides for the user",
     [](auto& r) {
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
         Policy(r, kMachine, L"*", L"2");
         Policy(r, kMachine, L"https://", L"2");
     },
     kTesk, kUser, RowVerdict::Fail, L"not on the policy site list"},
    {"the other row of that list",
     [](auto& r) {
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
         Policy(r, kUser, L"https://kessor.qrn.example", L"2");
     },
     kKessor, kUser, RowVerdict::Pass},
    {"a policy entry without scheme covers every scheme",
     [](auto& r) { Policy(r, kUser, L"tesk.qrn.example", L"2"); }, kTesk, kUser, RowVerdict::Pass},
    {"a star scheme covers http", [](auto& r) { Policy(r, kUser, L"*://*.omvar.example", L"2"); },
     kOmvar, kUser, RowVerdict::Pass},
    {"a policy entry for another scheme",
     [](auto& r) { Policy(r, kUser, L"http://tesk.qrn.example", L"2"); }, kTesk, kUser,
     RowVerdict::Fail},
    {"a policy wildcard covers a host below",
     [](auto& r) { Policy(r, kUser, L"https://*.qrn.example", L"2"); }, kTesk, kUser, RowVerdict::Pass},
    {"a policy wildcard is the wildcard row",
     [](auto& r) { Policy(r, kUser, L"https://*.qrn.example", L"2"); }, kQuorin, kUser,
     RowVerdict::Pass},
    {"a policy host is not its domain's wildcard",
     [](auto& r) { Policy(r, kUser, L"https://qrn.example", L"2"); }, kQuorin, kUser,
     RowVerdict::Fail},
    {"a policy entry with a port and a path",
     [](auto& r) { Policy(r, kUser, L"HTTPS://Tesk.QRN.example:443/login", L" 2 "); }, kTesk,
     kUser, RowVerdict::Pass},
    {"policy data that is no zone",
     [](auto& r) { Policy(r, kUser, L"https://tesk.qrn.example", L"two"); }, kTesk, kUser,
     RowVerdict::Fail, L"no zone number"},
    {"policy data as a DWORD",
     [](auto& r) {
         r.SetDword(kUser, View::Native, kPolicySettings, L"ListBox_Support_ZoneMapKey", 1);
         r.SetDword(kUser, View::Native, kZoneMapKey, L"https://tesk.qrn.example", 2);
     },
     kTesk, kUser, RowVerdict::Pass},
    {"a policy key that may not be opened",
     [](auto& r) {
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
         r.SetDword(kUser, View::Native, kPolicySettings, L"ListBox_Support_ZoneMapKey", 1);
         r.DenyOpen(kUser, View::Native, kZoneMapKey);
     },
     kTesk, kUser, RowVerdict::Undecided},
    {"a policy list that may not be listed",
     [](auto& r) {
         Policy(r, kMachine, L"https://tesk.qrn.example", L"2");
         r.DenyListing(kMachine, View::Native, kZoneMapKey);
     },
     kTesk, kMachine, RowVerdict::Undecided},
    {"an empty policy key leaves the own list in force",
     [](auto& r) {
         r.AddKey(kUser, View::Native, kZoneMapKey);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Pass},
    // The administrative template's switch, not the list's values, says the policy is in
    // force ("Site to Zone Assignment List", ListBox_Support_ZoneMapKey).
    {"a list without its switch is no policy in force",
     [](auto& r) {
         r.SetString(kUser, View::Native, kZoneMapKey, L"https://tesk.qrn.example", L"4");
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Pass, L"ZoneMap\\Domains"},
    {"a list with its switch at 0 (disabled) is no policy in force",
     [](auto& r) {
         r.SetDword(kMachine, View::Native, kPolicySettings, L"ListBox_Support_ZoneMapKey", 0);
         r.SetString(kMachine, View::Native, kZoneMapKey, L"https://tesk.qrn.example", L"2");
     },
     kTesk, kMachine, RowVerdict::Fail, L"nothing under"},
    {"the switch on with an empty list replaces the own list",
     [](auto& r) {
         r.SetDword(kUser, View::Native, kPolicySettings, L"ListBox_Support_ZoneMapKey", 1);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Fail, L"policy site list"},
    {"a switch that may not be read leaves the row open",
     [](auto& r) {
         r.SetDwordOfSize(kUser, View::Native, kPolicySettings, L"ListBox_Support_ZoneMapKey", 2);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Undecided, L"ListBox_Support_ZoneMapKey"},
    {"the machine policy decides for the user too",
     [](auto& r) { Policy(r, kMachine, L"https://*.qrn.example", L"2"); }, kTesk, kUser,
     RowVerdict::Pass},
    {"the machine policy before the user policy",
     [](auto& r) {
         Policy(r, kMachine, L"https://tesk.qrn.example", L"4");
         Policy(r, kUser, L"https://tesk.qrn.example", L"2");
     },
     kTesk, kUser, RowVerdict::Fail, L"Restricted"},
    {"a user policy does not decide for the machine",
     [](auto& r) {
         Policy(r, kUser, L"https://tesk.qrn.example", L"2");
         Own(r, kMachine, L"qrn.example\\tesk", L"https", 3);
     },
     kTesk, kMachine, RowVerdict::Fail, L"Internet"},
};
INSTANTIATE_TEST_SUITE_P(Policy, TrustedSiteCase, ::testing::ValuesIn(kPolicyCases));

const Case kMachineOnlyCases[] = {
    {"machine settings only ignore the user's list",
     [](auto& r) {
         r.SetDword(kMachine, View::Native, kPolicySettings, L"Security_HKLM_only", 1);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Fail, L"Security_HKLM_only"},
    {"machine settings only apply the machine's list to the user",
     [](auto& r) {
         r.SetDword(kMachine, View::Native, kPolicySettings, L"Security_HKLM_only", 1);
         Own(r, kMachine, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Pass},
    {"the rule at 0 changes nothing",
     [](auto& r) {
         r.SetDword(kMachine, View::Native, kPolicySettings, L"Security_HKLM_only", 0);
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
     },
     kTesk, kUser, RowVerdict::Pass},
    {"the rule unreadable leaves the user undecided",
     [](auto& r) {
         Own(r, kUser, L"qrn.example\\tesk", L"https", 2);
         r.DenyOpen(kMachine, View::Native, kPolicySettings);
     },
     kTesk, kUser, RowVerdict::Undecided},
};
INSTANTIATE_TEST_SUITE_P(MachineOnly, TrustedSiteCase, ::testing::ValuesIn(kMachineOnlyCases));

// The shapes an own-list entry can take, each read the way the browser documents it, and
// each tried in the four places such a list lives: the user's and the machine's Domains,
// and the same two under Enhanced Security Configuration (EscDomains).
struct ShapeCase {
    const char* label;
    std::vector<std::pair<std::wstring, std::wstring>> entries;  // key, value name; zone 2
    std::string_view row;
    RowVerdict expected;
};

TEST(ZoneMapShapes, EachShapeCoversWhatTheBrowserDocuments) {
    const ShapeCase cases[] = {
        // A two-label key is the domain and every host below it.
        {"two-label key, host below", {{L"qrn.example", L"https"}}, kTesk, RowVerdict::Pass},
        {"two-label key, wildcard row over it", {{L"halvek.example", L"https"}}, kHalvekGo,
         RowVerdict::Pass},
        {"two-label key, wildcard row of a sub-domain", {{L"qrn.example", L"https"}},
         kHvkQuorin, RowVerdict::Pass},
        // A longer name in one piece is that host alone.
        {"longer one-piece key is its own host", {{L"tesk.qrn.example", L"https"}}, kTesk,
         RowVerdict::Pass},
        {"longer one-piece key does not cover the hosts below it",
         {{L"hvk.qrn.example", L"https"}}, kHvkQuorin, RowVerdict::Fail},
        {"longer one-piece key with a star value still only its host",
         {{L"hvk.qrn.example", L"*"}}, kHvkQuorin, RowVerdict::Fail},
        {"one-label key is that name alone", {{L"example", L"https"}}, kHalvekGo, RowVerdict::Fail},
        {"one-label key does not reach a host two levels down", {{L"example", L"https"}}, kTesk,
         RowVerdict::Fail},
        // Hosts below a longer name need a wildcard sub-key.
        {"star sub-key under the longer key", {{L"hvk.qrn.example\\*", L"https"}}, kHvkQuorin,
         RowVerdict::Pass},
        {"*. sub-key under the two-label domain", {{L"qrn.example\\*.hvk", L"https"}},
         kHvkQuorin, RowVerdict::Pass},
        {"star sub-key covers hosts below, not the host",
         {{L"tesk.qrn.example\\*", L"https"}}, kTesk, RowVerdict::Fail},
        {"a star that is not the first label is no wildcard",
         {{L"qrn.example\\hvk.*", L"https"}}, kHvkQuorin, RowVerdict::Fail},
        // A plain sub-key is one host.
        {"host sub-key", {{L"qrn.example\\kessor", L"https"}}, kKessor, RowVerdict::Pass},
        {"host sub-key is not the hosts below it", {{L"qrn.example\\hvk", L"https"}}, kHvkQuorin,
         RowVerdict::Fail},
        // Scheme values.
        {"star value stands for the scheme", {{L"qrn.example\\kessor", L"*"}}, kKessor,
         RowVerdict::Pass},
        {"another scheme's value says nothing", {{L"qrn.example\\kessor", L"http"}}, kKessor,
         RowVerdict::Fail},
        {"a key silent on the scheme leaves it to its domain",
         {{L"qrn.example\\kessor", L"ftp"}, {L"qrn.example", L"https"}}, kKessor, RowVerdict::Pass},
        {"a key with no value at all leaves it to its domain",
         {{L"qrn.example\\kessor", L""}, {L"qrn.example", L"*"}}, kKessor, RowVerdict::Pass},
    };
    struct Place {
        const char* label;
        Hive hive;
        bool enhanced;
    };
    const Place places[] = {{"user Domains", kUser, false},
                            {"machine Domains", kMachine, false},
                            {"user EscDomains", kUser, true},
                            {"machine EscDomains", kMachine, true}};
    for (const Place& place : places) {
        for (const ShapeCase& c : cases) {
            SCOPED_TRACE(std::string(place.label) + ": " + c.label);
            FakeRegistrySource registry;
            if (place.enhanced) {
                Server(registry, L"ServerNT");
                registry.SetDword(place.hive, View::Native, kZoneMap, L"IEHarden", 1);
            }
            for (const auto& [key, name] : c.entries) {
                const std::wstring path = (place.enhanced ? kEscDomains : kDomains) + L"\\" + key;
                if (name.empty()) {
                    registry.AddKey(place.hive, View::Native, path);
                } else {
                    registry.SetDword(place.hive, View::Native, path, name, 2);
                }
            }
            TrustedSiteExaminer examiner(registry);
            const Finding mine = examiner.Examine(Site(c.row), place.hive);
            EXPECT_EQ(mine.verdict, c.expected)
                << std::string(mine.reason.begin(), mine.reason.end());
            // The entries of one scope never decide the other.
            const Hive other = place.hive == kUser ? kMachine : kUser;
            EXPECT_EQ(examiner.Examine(Site(c.row), other).verdict, RowVerdict::Fail);
        }
    }
}

// The examination must put each scope's finding into that scope's marker of the same row.
TEST(TrustedSitesWiring, EachFindingLandsInItsOwnRowAndColumn) {
    FakeRegistrySource registry;
    Own(registry, kMachine, L"qrn.example\\kessor", L"https", 2);
    Own(registry, kUser, L"omvar.example", L"http", 2);
    const std::vector<CheckResult> results = ExamineWorkstation(registry);
    const auto& groups = {&Group(GroupId::TrustedSitesUser), &Group(GroupId::TrustedSitesMachine)};
    std::size_t i = 0;
    for (const CheckGroup* group : groups) {
        for (const CheckRow& row : group->rows) {
            SCOPED_TRACE(std::string(row.label));
            ASSERT_LT(i, results.size());
            EXPECT_EQ(results[i].marker, MarkerPath(row));
            const bool wanted = row.label == "mkessor" || row.label == "useromvar";
            EXPECT_EQ(results[i].verdict, wanted ? RowVerdict::Pass : RowVerdict::Fail);
            ++i;
        }
    }
    EXPECT_EQ(registry.open_handles, 0);
}

struct PatternCase {
    const char* label;
    const wchar_t* text;
    bool parses;
    const wchar_t* scheme;
    bool wildcard;
    const wchar_t* host;
};

TEST(SiteNames, ParsesWhatSiteListsHold) {
    const PatternCase cases[] = {
        {"scheme and host", L"https://tesk.qrn.example", true, L"https", false, L"tesk.qrn.example"},
        {"bare host", L"tesk.qrn.example", true, L"", false, L"tesk.qrn.example"},
        {"wildcard", L"http://*.omvar.example", true, L"http", true, L"omvar.example"},
        {"star scheme", L"*://*.qrn.example", true, L"", true, L"qrn.example"},
        {"case folded", L"HTTPS://*.QRN.Example", true, L"https", true, L"qrn.example"},
        {"port and path dropped", L"https://tesk.qrn.example:8443/a/b", true, L"https", false,
         L"tesk.qrn.example"},
        {"trailing dot", L"tesk.qrn.example.", true, L"", false, L"tesk.qrn.example"},
        {"blanks around", L"  tesk.qrn.example ", true, L"", false, L"tesk.qrn.example"},
        {"empty", L"", false, L"", false, L""},
        {"star alone", L"*", false, L"", false, L""},
        {"scheme alone", L"https://", false, L"", false, L""},
        {"star inside", L"tesk.*.example", false, L"", false, L""},
        {"double star", L"*.*.qrn.example", false, L"", false, L""},
        {"empty label", L"tesk..example", false, L"", false, L""},
    };
    for (const PatternCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::optional<SiteName> name = ParseSiteName(c.text);
        ASSERT_EQ(name.has_value(), c.parses);
        if (!name) continue;
        EXPECT_EQ(name->scheme, c.scheme);
        EXPECT_EQ(name->pattern.wildcard, c.wildcard);
        EXPECT_EQ(name->pattern.host, c.host);
    }
}

TEST(SiteNames, WildcardCoversOnlyHostsStrictlyBelow) {
    struct CoverCase {
        const char* label;
        SitePattern pattern;
        const wchar_t* host;
        bool covered;
    };
    const CoverCase cases[] = {
        {"domain wildcard covers a host", {true, L"qrn.example"}, L"tesk.qrn.example", true},
        {"and a host two levels down", {true, L"qrn.example"}, L"a.tesk.qrn.example", true},
        {"but not the domain itself", {true, L"qrn.example"}, L"qrn.example", false},
        {"host wildcard does not cover the host", {true, L"tesk.qrn.example"}, L"tesk.qrn.example",
         false},
        {"a suffix that is not a label", {true, L"qrn.example"}, L"xqrn.example", false},
        {"exact host", {false, L"tesk.qrn.example"}, L"TESK.qrn.example", true},
        {"exact host is not a host below", {false, L"qrn.example"}, L"tesk.qrn.example", false},
    };
    for (const CoverCase& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Covers(c.pattern, c.host), c.covered);
    }
}

}  // namespace
}  // namespace qtk::companion
