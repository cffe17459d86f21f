// Edge's IE mode: the two policies and where they are read, where the site list may live,
// and that every step that leaves the answer open gives an undecided row, never a pass.
#include "companion/ie_mode.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "checks/tables.h"
#include "companion/check_rows.h"
#include "companion/examination.h"
#include "fake_registry.h"

namespace qtk::companion {
namespace {

using testing::FakeRegistrySource;

const std::wstring kEdge = L"Software\\Policies\\Microsoft\\Edge";
constexpr Hive kUser = Hive::CurrentUser;
constexpr Hive kMachine = Hive::LocalMachine;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class CannedFetcher : public SiteListFetcher {
public:
    FetchedList result{true, "<site-list/>", L""};
    std::wstring asked;  // the last place fetched from
    FetchedList Fetch(const SiteListLocation& location) override {
        asked = location.target;
        return result;
    }
};

class CannedIe11 : public Ie11FeatureProbe {
public:
    Ie11Feature result{Ie11State::Present, L"C:\\Program Files\\Internet Explorer\\iexplore.exe",
                       L""};
    Ie11Feature Look() override { return result; }
};

class CannedParser : public SiteListParser {
public:
    ParsedList result;
    ParsedList Parse(const std::string&) override { return result; }
};

SiteList V2List(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> sites) {
    SiteList list;
    list.schema = SiteListSchema::V2;
    for (const auto& [url, open_in] : sites) list.sites.push_back({url, open_in, false});
    return list;
}

void Level(FakeRegistrySource& r, Hive hive, std::uint32_t value) {
    r.SetDword(hive, View::Native, kEdge, L"InternetExplorerIntegrationLevel", value);
}
void ListAt(FakeRegistrySource& r, Hive hive, const std::wstring& where) {
    r.SetString(hive, View::Native, kEdge, L"InternetExplorerIntegrationSiteList", where);
}

const RowVerdict kPass = RowVerdict::Pass;
const RowVerdict kFail = RowVerdict::Fail;
const RowVerdict kOpen = RowVerdict::Undecided;

struct Case {
    const char* label;
    std::function<void(FakeRegistrySource&, CannedFetcher&, CannedParser&, CannedIe11&)> setup;
    RowVerdict tesk;       // https://tesk.qrn.example
    RowVerdict quorin;     // https://*.qrn.example
    RowVerdict omvar;      // http://*.omvar.example
    const wchar_t* reason_has = nullptr;  // in the tesk row
    const wchar_t* fetched = nullptr;     // the list that must be the one fetched
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

const CheckResult& RowFor(const std::vector<CheckResult>& rows, std::wstring_view target) {
    for (const CheckResult& row : rows) {
        if (row.target == target) return row;
    }
    throw std::logic_error("no such row");
}

class IeModeCase : public ::testing::TestWithParam<Case> {};

TEST_P(IeModeCase, DecidesEverySite) {
    const Case& c = GetParam();
    FakeRegistrySource registry;
    CannedFetcher fetcher;
    CannedParser parser;
    CannedIe11 ie11;
    parser.result.list = V2List({{L"qrn.example", L"IE11"}, {L"omvar.example", L"IE11"}});
    c.setup(registry, fetcher, parser, ie11);
    const std::vector<CheckResult> rows = ExamineIeMode(registry, fetcher, parser, ie11);
    ASSERT_EQ(rows.size(), TrustedSites().size());
    const CheckResult& tesk = RowFor(rows, L"https://tesk.qrn.example");
    EXPECT_EQ(tesk.verdict, c.tesk) << Narrow(tesk.reason);
    EXPECT_EQ(RowFor(rows, L"https://*.qrn.example").verdict, c.quorin);
    EXPECT_EQ(RowFor(rows, L"http://*.omvar.example").verdict, c.omvar);
    if (c.reason_has != nullptr) {
        EXPECT_NE(tesk.reason.find(c.reason_has), std::wstring::npos) << Narrow(tesk.reason);
    }
    if (c.fetched != nullptr) EXPECT_EQ(fetcher.asked, c.fetched);
    EXPECT_EQ(tesk.id, "ie_mode.user.https:tesk.qrn.example");
    for (const CheckResult& row : rows) {
        EXPECT_EQ(row.group, "ie_mode");
        EXPECT_FALSE(row.reason.empty()) << row.id;
    }
    EXPECT_EQ(registry.open_handles, 0);
}

const Case kPolicyCases[] = {
    {"IE mode on for the machine, list in force",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 1);
         ListAt(r, kMachine, L"C:\\lists\\sites.xml");
     },
     kPass, kPass, kPass, L"qrn.example: open-in IE11"},
    {"both policies from the user",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kUser, 1);
         ListAt(r, kUser, L"https://lists.qrn.example/sites.xml");
     },
     kPass, kPass, kPass},
    {"nothing set: IE mode is off",
     [](auto&, auto&, auto&, auto&) {}, kFail, kFail, kFail, L"not switched on"},
    {"level 0 (None)",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 0);
         ListAt(r, kMachine, L"C:\\sites.xml");
     },
     kFail, kFail, kFail, L"0 (None)"},
    {"the machine's level holds over the user's",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 0);
         Level(r, kUser, 1);
         ListAt(r, kUser, L"C:\\sites.xml");
     },
     kFail, kFail, kFail, L"0 (None)"},
    {"a level of the wrong type is not taken as set",
     [](auto& r, auto&, auto&, auto&) {
         r.SetString(kMachine, View::Native, kEdge, L"InternetExplorerIntegrationLevel", L"1");
         ListAt(r, kMachine, L"C:\\sites.xml");
     },
     kOpen, kOpen, kOpen, L"unexpected value type"},
    {"a machine policy key that may not be read",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kUser, 1);
         ListAt(r, kUser, L"C:\\sites.xml");
         r.DenyOpen(kMachine, View::Native, kEdge);
     },
     kOpen, kOpen, kOpen, L"access denied"},
    {"IE mode on but no site list",
     [](auto& r, auto&, auto&, auto&) { Level(r, kMachine, 1); }, kFail, kFail, kFail,
     L"no Enterprise Mode Site List"},
    {"an empty site list value configures nothing",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 1);
         ListAt(r, kMachine, L"  ");
     },
     kFail, kFail, kFail, L"no Enterprise Mode Site List"},
    {"the machine's list holds over the user's",
     [](auto& r, auto&, auto& p, auto&) {
         Level(r, kMachine, 1);
         ListAt(r, kMachine, L"C:\\machine.xml");
         ListAt(r, kUser, L"C:\\user.xml");
         p.result.list = V2List({{L"qrn.example", L"IE11"}});
     },
     kPass, kPass, kFail},
    {"a list location Edge cannot load",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 1);
         ListAt(r, kMachine, L"ftp://lists/sites.xml");
     },
     kOpen, kOpen, kOpen, L"cannot be loaded"},
    {"a list that cannot be fetched is undecided, not a pass",
     [](auto& r, auto& f, auto&, auto&) {
         Level(r, kMachine, 1);
         ListAt(r, kMachine, L"https://127.0.0.1:9/sites.xml");
         f.result = FetchedList{false, "", L"the server did not answer in time"};
     },
     kOpen, kOpen, kOpen, L"did not answer in time"},
    {"a list that is not well-formed is undecided, not a pass",
     [](auto& r, auto&, auto& p, auto&) {
         Level(r, kMachine, 1);
         ListAt(r, kMachine, L"C:\\sites.xml");
         p.result = ParsedList{std::nullopt, L"not well-formed at line 3, column 7"};
     },
     kOpen, kOpen, kOpen, L"line 3, column 7"},
};
INSTANTIATE_TEST_SUITE_P(Policies, IeModeCase, ::testing::ValuesIn(kPolicyCases));

void OnWithList(FakeRegistrySource& r) {
    Level(r, kMachine, 1);
    ListAt(r, kMachine, L"C:\\sites.xml");
}

const Case kListCases[] = {
    {"one host listed: the wildcard row is not covered",
     [](auto& r, auto&, auto& p, auto&) {
         OnWithList(r);
         p.result.list = V2List({{L"tesk.qrn.example", L"IE11"}});
     },
     kPass, kFail, kFail},
    {"a host kept in Edge breaks the wildcard row",
     [](auto& r, auto&, auto& p, auto&) {
         OnWithList(r);
         p.result.list = V2List({{L"qrn.example", L"IE11"}, {L"tesk.qrn.example", L"MSEdge"},
                                 {L"omvar.example", L"IE11"}});
     },
     kFail, kFail, kPass, L"open-in MSEdge"},
    {"a neutral site does not open in IE mode",
     [](auto& r, auto&, auto& p, auto&) {
         OnWithList(r);
         p.result.list = V2List({{L"qrn.example", L"None"}});
     },
     kFail, kFail, kFail, L"neutral"},
};
INSTANTIATE_TEST_SUITE_P(Lists, IeModeCase, ::testing::ValuesIn(kListCases));

// "InternetExplorerIntegrationLevel": None (0), IEMode (1), NeedIE (2); since the IE11
// desktop application was retired in June 2022, NeedIE gives IE mode as well.
const Case kLevelCases[] = {
    {"2 (NeedIE) opens IE mode since June 2022",
     [](auto& r, auto&, auto&, auto&) { Level(r, kMachine, 2); ListAt(r, kMachine, L"C:\\l.xml"); },
     kPass, kPass, kPass},
    {"2 (NeedIE) from the user",
     [](auto& r, auto&, auto&, auto&) { Level(r, kUser, 2); ListAt(r, kUser, L"C:\\l.xml"); },
     kPass, kPass, kPass},
    {"a value the policy does not define",
     [](auto& r, auto&, auto&, auto&) { Level(r, kMachine, 3); ListAt(r, kMachine, L"C:\\l.xml"); },
     kFail, kFail, kFail, L"is 3"},
};
INSTANTIATE_TEST_SUITE_P(IntegrationLevel, IeModeCase, ::testing::ValuesIn(kLevelCases));

void CloudList(FakeRegistrySource& r, Hive hive,
               const std::wstring& id = L"3f0c1b4e-8c1a-4c55-9d2e-7d1c0a9e5b21") {
    r.SetString(hive, View::Native, kEdge, L"InternetExplorerIntegrationCloudSiteList", id);
}

// "InternetExplorerIntegrationCloudSiteList": the cloud list overrides the local ones and
// cannot be read from the workstation, so nothing is decided from a local list.
const Case kCloudCases[] = {
    {"the machine's cloud list overrides a local list that would pass",
     [](auto& r, auto&, auto&, auto&) { OnWithList(r); CloudList(r, kMachine); },
     kOpen, kOpen, kOpen, L"InternetExplorerIntegrationCloudSiteList"},
    {"the user's cloud list overrides the machine's local list",
     [](auto& r, auto&, auto&, auto&) { OnWithList(r); CloudList(r, kUser); },
     kOpen, kOpen, kOpen, L"InternetExplorerIntegrationCloudSiteList"},
    {"a cloud list with no local list is undecided, not a fail",
     [](auto& r, auto&, auto&, auto&) { Level(r, kMachine, 1); CloudList(r, kMachine); },
     kOpen, kOpen, kOpen, L"cannot be read here"},
    {"an empty cloud value configures nothing",
     [](auto& r, auto&, auto&, auto&) { OnWithList(r); CloudList(r, kMachine, L" "); },
     kPass, kPass, kPass},
    {"a cloud list does not switch IE mode on",
     [](auto& r, auto&, auto&, auto&) { Level(r, kMachine, 0); CloudList(r, kMachine); },
     kFail, kFail, kFail, L"0 (None)"},
};
INSTANTIATE_TEST_SUITE_P(CloudSiteList, IeModeCase, ::testing::ValuesIn(kCloudCases));

const std::wstring kIeEnterpriseMode =
    L"Software\\Policies\\Microsoft\\Internet Explorer\\Main\\EnterpriseMode";
void IeListAt(FakeRegistrySource& r, Hive hive, const std::wstring& where) {
    r.SetString(hive, View::Native, kIeEnterpriseMode, L"SiteList", where);
}

// "Configure IE mode policies": where Edge's InternetExplorerIntegrationSiteList is not set,
// IE mode uses Internet Explorer's "Use the Enterprise Mode IE website list" (SiteList).
const Case kIeSiteListCases[] = {
    {"Internet Explorer's machine list, Edge's not set",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 1);
         IeListAt(r, kMachine, L"\\\\server\\lists\\sites.xml");
     },
     kPass, kPass, kPass, L"qrn.example: open-in IE11"},
    {"Internet Explorer's user list",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 1);
         IeListAt(r, kUser, L"https://lists.qrn.example/sites.xml");
     },
     kPass, kPass, kPass},
    {"Internet Explorer's list that cannot be read is undecided",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 1);
         IeListAt(r, kUser, L"C:\\sites.xml");
         r.DenyOpen(kMachine, View::Native, kIeEnterpriseMode);
     },
     kOpen, kOpen, kOpen, L"access denied"},
    {"neither list set",
     [](auto& r, auto&, auto&, auto&) { Level(r, kMachine, 1); }, kFail, kFail, kFail,
     L"SiteList"},
    {"Edge's user list holds over IE's machine list",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 1);
         ListAt(r, kUser, L"C:\\edge.xml");
         IeListAt(r, kMachine, L"C:\\ie.xml");
     },
     kPass, kPass, kPass, nullptr, L"C:\\edge.xml"},
    {"IE's machine list holds over IE's user list",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 1);
         IeListAt(r, kMachine, L"C:\\ie.xml");
         IeListAt(r, kUser, L"C:\\ie-user.xml");
     },
     kPass, kPass, kPass, nullptr, L"C:\\ie.xml"},
    {"an empty Edge value leaves IE's list in force",
     [](auto& r, auto&, auto&, auto&) {
         Level(r, kMachine, 1);
         ListAt(r, kMachine, L"");
         IeListAt(r, kMachine, L"C:\\ie.xml");
     },
     kPass, kPass, kPass, nullptr, L"C:\\ie.xml"},
};
INSTANTIATE_TEST_SUITE_P(InternetExplorerSiteList, IeModeCase,
                         ::testing::ValuesIn(kIeSiteListCases));

// "Enterprise site configuration strategy": sign-on servers are configured as neutral
// sites (open-in None) so that IE-mode pages can authenticate; a neutral host under a
// domain sent to IE11 keeps the wildcard row a pass. A host kept in Edge does not.
const Case kNeutralHostCases[] = {
    {"a sign-on host with open-in None",
     [](auto& r, auto&, auto& p, auto&) {
         OnWithList(r);
         p.result.list = V2List({{L"qrn.example", L"IE11"}, {L"login.qrn.example", L"None"},
                                 {L"omvar.example", L"IE11"}, {L"sso.omvar.example", L""}});
     },
     kPass, kPass, kPass},
    {"a neutral host and one kept in Edge",
     [](auto& r, auto&, auto& p, auto&) {
         OnWithList(r);
         p.result.list = V2List({{L"qrn.example", L"IE11"}, {L"login.qrn.example", L"None"},
                                 {L"kessor.qrn.example", L"MSEdge"}, {L"omvar.example", L"IE11"}});
     },
     kPass, kFail, kPass},
    {"a host the server decides for (Configurable) is no neutral site",
     [](auto& r, auto&, auto& p, auto&) {
         OnWithList(r);
         p.result.list = V2List({{L"qrn.example", L"IE11"}, {L"login.qrn.example", L"Configurable"},
                                 {L"omvar.example", L"IE11"}});
     },
     kPass, kFail, kPass},
    {"the site itself neutral: not an IE-mode site of its own",
     [](auto& r, auto&, auto& p, auto&) {
         OnWithList(r);
         p.result.list = V2List({{L"tesk.qrn.example", L"None"}, {L"omvar.example", L"IE11"}});
     },
     kFail, kFail, kPass, L"neutral"},
};
INSTANTIATE_TEST_SUITE_P(NeutralHosts, IeModeCase, ::testing::ValuesIn(kNeutralHostCases));

SiteList V1List() {
    SiteList list;
    list.schema = SiteListSchema::V1;
    list.emie.push_back({L"qrn.example", false, std::nullopt, {}});
    list.emie.push_back({L"kessor.qrn.example", true, std::nullopt, {}});
    list.doc_mode.push_back({L"omvar.example", false, L"8", {}});
    return list;
}

// "Configure IE mode policies": schema v.1 lists are not supported for IE mode integration,
// so a site only a v.1 list sends to IE11 fails, and the reason says why.
const Case kSchemaV1Cases[] = {
    {"v.1 <emie> and <docMode> entries",
     [](auto& r, auto&, auto& p, auto&) {
         OnWithList(r);
         p.result.list = V1List();
     },
     kFail, kFail, kFail, L"v.1"},
    {"a v.1 list with nothing for the site",
     [](auto& r, auto&, auto& p, auto&) {
         OnWithList(r);
         SiteList list;
         list.schema = SiteListSchema::V1;
         p.result.list = list;
     },
     kFail, kFail, kFail, L"not on the site list"},
};
INSTANTIATE_TEST_SUITE_P(SchemaV1, IeModeCase, ::testing::ValuesIn(kSchemaV1Cases));

// "About IE mode": IE mode needs the Internet Explorer 11 feature; removed, no site opens
// in IE mode, whatever the policies say. Where it cannot be told, no pass.
const Case kFeatureCases[] = {
    {"feature removed",
     [](auto& r, auto&, auto&, auto& f) {
         OnWithList(r);
         f.result.state = Ie11State::Removed;
     },
     kFail, kFail, kFail, L"Internet Explorer 11 feature"},
    {"feature removed, the policies unreadable",
     [](auto& r, auto&, auto&, auto& f) {
         OnWithList(r);
         r.DenyOpen(kMachine, View::Native, kEdge);
         f.result.state = Ie11State::Removed;
     },
     kFail, kFail, kFail, L"removed"},
    {"feature removed, a cloud list set",
     [](auto& r, auto&, auto&, auto& f) {
         OnWithList(r);
         CloudList(r, kMachine);
         f.result.state = Ie11State::Removed;
     },
     kFail, kFail, kFail, L"removed"},
    {"cannot be told: a pass becomes undecided, a fail stays",
     [](auto& r, auto&, auto& p, auto& f) {
         OnWithList(r);
         p.result.list = V2List({{L"qrn.example", L"IE11"}});
         f.result.state = Ie11State::Unknown;
         f.result.problem = L"error 5: Access is denied.";
     },
     kOpen, kOpen, kFail, L"Access is denied"},
};
INSTANTIATE_TEST_SUITE_P(Ie11Feature, IeModeCase, ::testing::ValuesIn(kFeatureCases));

// What the platform's look for iexplore.exe means for the feature.
TEST(Ie11Program, FromTheLookForTheProgram) {
    const struct {
        const char* label;
        long error;
        bool is_folder;
        Ie11State state;
    } cases[] = {
        {"found", 0, false, Ie11State::Present},
        {"file not found (2)", 2, false, Ie11State::Removed},
        {"folder not found (3)", 3, false, Ie11State::Removed},
        {"access denied (5)", 5, false, Ie11State::Unknown},
        {"a folder by that name", 0, true, Ie11State::Unknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Ie11Feature feature = Ie11Program(L"C:\\PF\\Internet Explorer\\iexplore.exe",
                                                c.error, c.is_folder, L"error text");
        EXPECT_EQ(feature.state, c.state);
        EXPECT_EQ(feature.program, L"C:\\PF\\Internet Explorer\\iexplore.exe");
        EXPECT_EQ(feature.problem.empty(), c.state != Ie11State::Unknown)
            << Narrow(feature.problem);
    }
}

TEST(IeMode, NobodyLoggedOnLeavesEveryRowUndecided) {
    FakeRegistrySource registry;
    OnWithList(registry);
    CannedFetcher fetcher;
    CannedParser parser;
    CannedIe11 ie11;
    parser.result.list = V2List({{L"qrn.example", L"IE11"}});
    UserChoice nobody;
    nobody.user.logged_on = false;
    std::size_t ie_rows = 0;
    for (const CheckResult& row :
         Examine(registry, nobody, {nullptr, &fetcher, &parser, nullptr, &ie11})) {
        if (row.group != kIeModeGroup) continue;
        SCOPED_TRACE(row.id);
        ++ie_rows;
        EXPECT_EQ(row.verdict, kOpen);
    }
    EXPECT_EQ(ie_rows, TrustedSites().size());
}

class InternetZones : public ZoneMapper {
public:
    int asked = 0;
    ZoneAnswer MapUrlToZone(const std::wstring&) override {
        ++asked;
        return {3u, L""};
    }
};

// The report after the marker rows: Windows' zone beside the user rows for the process's
// own user only, and the IE-mode group read from the examined user's hive.
TEST(BrowserChecks, FollowTheChosenUser) {
    const struct {
        const char* label;
        UserChoice choice;
        bool zones_asked;
        RowVerdict ie_mode;
        const wchar_t* reason_has;
    } cases[] = {
        {"the process's own user", UserChoice{ExaminedUser{}, L"", L"", L"", false}, true, kFail,
         L"HKCU\\Software\\Policies\\Microsoft\\Edge"},
        {"another user, read from HKEY_USERS",
         UserChoice{ExaminedUser{true, false, L"S-1-5-21-111-222-333-1001", L"QRN\\clerk"}, L"",
                    L"S-1-5-18", L"SYSTEM", true},
         false, kFail, L"HKU\\S-1-5-21-111-222-333-1001\\Software\\Policies\\Microsoft\\Edge"},
        {"nobody logged on",
         UserChoice{ExaminedUser{false, false, L"", L""}, L"no user logged on", L"S-1-5-18",
                    L"SYSTEM", true},
         false, kOpen, L"no user logged on"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeRegistrySource registry;
        // IE mode switched off by the user's policy: the row names where that was read.
        Level(registry, kUser, 0);
        InternetZones zones;
        CannedFetcher fetcher;
        CannedParser parser;
        CannedIe11 ie11;
        std::vector<CheckResult> rows =
            Examine(registry, c.choice, {&zones, &fetcher, &parser, nullptr, &ie11});
        EXPECT_EQ(zones.asked > 0, c.zones_asked);
        std::erase_if(rows, [](const CheckResult& row) { return row.group != kIeModeGroup; });
        ASSERT_EQ(rows.size(), TrustedSites().size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].group, "ie_mode");
            EXPECT_EQ(rows[i].verdict, c.ie_mode) << Narrow(rows[i].reason);
            EXPECT_NE((rows[i].reason + L" " + rows[i].place).find(c.reason_has), std::wstring::npos)
                << Narrow(rows[i].reason) << " / " << Narrow(rows[i].place);
        }
        EXPECT_EQ(registry.open_handles, 0);
    }
}

TEST(SiteListLocations, WhereEdgeCanLoadAListFrom) {
    const struct {
        const char* label;
        const wchar_t* policy;
        bool usable;
        SiteListSource source;
        const wchar_t* target;
    } cases[] = {
        {"local path", L"C:\\lists\\sites.xml", true, SiteListSource::LocalFile,
         L"C:\\lists\\sites.xml"},
        {"local path with forward slashes", L"c:/lists/sites.xml", true, SiteListSource::LocalFile,
         L"c:\\lists\\sites.xml"},
        {"quoted, with blanks around", L"  \"C:\\lists\\sites.xml\" ", true,
         SiteListSource::LocalFile, L"C:\\lists\\sites.xml"},
        {"UNC path", L"\\\\server\\share\\sites.xml", true, SiteListSource::NetworkFile,
         L"\\\\server\\share\\sites.xml"},
        {"file: URL of a local file", L"file:///C:/Users/me/Documents/sites.xml", true,
         SiteListSource::LocalFile, L"C:\\Users\\me\\Documents\\sites.xml"},
        {"file: URL with an escaped blank", L"file:///C:/My%20Lists/sites.xml", true,
         SiteListSource::LocalFile, L"C:\\My Lists\\sites.xml"},
        {"file: URL on localhost", L"file://localhost/C:/sites.xml", true, SiteListSource::LocalFile,
         L"C:\\sites.xml"},
        {"file: URL of a share", L"file://server/share/sites.xml", true,
         SiteListSource::NetworkFile, L"\\\\server\\share\\sites.xml"},
        {"https", L"https://iemode/sites.xml", true, SiteListSource::Https,
         L"https://iemode/sites.xml"},
        {"http, scheme in capitals", L"HTTP://lists.qrn.example/sites.xml", true,
         SiteListSource::Http, L"HTTP://lists.qrn.example/sites.xml"},
        {"empty", L"", false, SiteListSource::LocalFile, L""},
        {"a relative path", L"sites.xml", false, SiteListSource::LocalFile, L""},
        {"another scheme", L"ftp://lists/sites.xml", false, SiteListSource::LocalFile, L""},
        {"a file: URL with no drive", L"file:///sites.xml", false, SiteListSource::LocalFile, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::wstring problem;
        const std::optional<SiteListLocation> location = ParseSiteListLocation(c.policy, &problem);
        ASSERT_EQ(location.has_value(), c.usable) << Narrow(problem);
        if (!location) {
            EXPECT_FALSE(problem.empty());
            continue;
        }
        EXPECT_EQ(location->source, c.source);
        EXPECT_EQ(location->target, c.target);
    }
}

}  // namespace
}  // namespace qtk::companion
