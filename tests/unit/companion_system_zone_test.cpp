// Windows' own zone beside the companion's reading: when it is asked, and which answers are
// disagreements that the report must mark.
#include "companion/system_zone.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "checks/tables.h"
#include "companion/examination.h"
#include "fake_registry.h"

namespace qtk::companion {
namespace {

using testing::FakeRegistrySource;

class MapZones : public ZoneMapper {
public:
    std::map<std::wstring, ZoneAnswer> answers;
    int asked = 0;
    ZoneAnswer MapUrlToZone(const std::wstring& url) override {
        ++asked;
        const auto found = answers.find(url);
        return found != answers.end() ? found->second : ZoneAnswer{3u, L""};
    }
};

std::size_t IndexOf(std::wstring_view caption) {
    std::size_t i = 0;
    for (const TrustedSite& site : TrustedSites()) {
        if (SiteCaption(site) == caption) return i;
        ++i;
    }
    throw std::logic_error("no such site");
}

TEST(SystemZone, AsksForTheSiteItselfOrAHostBelowTheDomain) {
    EXPECT_EQ(ZoneProbeUrl(TrustedSites()[IndexOf(L"https://tesk.qrn.example")]),
              L"https://tesk.qrn.example/");
    EXPECT_EQ(ZoneProbeUrl(TrustedSites()[IndexOf(L"https://*.hvk.qrn.example")]),
              L"https://any-host.hvk.qrn.example/");
    EXPECT_EQ(ZoneProbeUrl(TrustedSites()[IndexOf(L"http://*.omvar.example")]),
              L"http://any-host.omvar.example/");
}

TEST(SystemZone, MarksWhereWindowsAndOurReadingDisagree) {
    const struct {
        const char* label;
        RowVerdict ours;
        ZoneAnswer system;
        bool compared;
        bool disagreement;
    } cases[] = {
        {"both trusted", RowVerdict::Pass, {2u, L""}, true, false},
        {"both not trusted", RowVerdict::Fail, {3u, L""}, true, false},
        {"we pass it, Windows maps it to the Internet", RowVerdict::Pass, {3u, L""}, true, true},
        {"we pass it, Windows restricts it", RowVerdict::Pass, {4u, L""}, true, true},
        {"Windows trusts what the user's settings do not", RowVerdict::Fail, {2u, L""}, true, true},
        {"our reading undecided is not compared", RowVerdict::Undecided, {3u, L""}, false, false},
        {"no zone from Windows is no disagreement", RowVerdict::Pass, {std::nullopt, L"E_FAIL"}, false,
         false},
    };
    const std::wstring kTesk = L"https://tesk.qrn.example";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        MapZones mapper;
        mapper.answers[L"https://tesk.qrn.example/"] = c.system;
        CheckResult row;
        row.target = kTesk;
        row.system_zone =
            AskSystemZone(TrustedSites()[IndexOf(kTesk)], c.ours, mapper, ExaminedUser{});
        const SystemZone& tesk = *row.system_zone;
        EXPECT_TRUE(tesk.asked);
        EXPECT_EQ(tesk.zone, c.system.zone);
        EXPECT_EQ(tesk.compared, c.compared);
        EXPECT_EQ(tesk.disagreement, c.disagreement);
        if (!c.compared) {
            EXPECT_FALSE(tesk.note.empty()) << "say why it was not compared";
        }
        const std::wstring text = ZoneDisagreementText({row});
        EXPECT_EQ(text.find(kTesk + L": ") != std::wstring::npos, c.disagreement) << "the line names the site";
    }
}

TEST(SystemZone, AskedOnlyForTheProcessOwnUser) {
    UserChoice other;
    other.user = ExaminedUser{true, false, L"S-1-5-21-111-222-333-1001", L"QRN\\clerk"};
    UserChoice nobody;
    nobody.user = ExaminedUser{false, false, L"", L""};
    nobody.unavailable_reason = L"no user logged on";
    for (const UserChoice& choice : {other, nobody}) {
        SCOPED_TRACE(choice.user.logged_on ? "another user" : "nobody");
        MapZones mapper;
        FakeRegistrySource registry;
        for (const CheckResult& row : Examine(registry, choice, {&mapper, nullptr, nullptr, nullptr})) {
            SCOPED_TRACE(row.id);
            if (!row.system_zone) continue;
            EXPECT_TRUE(choice.user.logged_on) << "nobody's rows carry no zone at all";
            EXPECT_FALSE(row.system_zone->asked);
            EXPECT_FALSE(row.system_zone->zone.has_value());
            EXPECT_NE(row.system_zone->note.find(L"not asked"), std::wstring::npos);
        }
        EXPECT_EQ(mapper.asked, 0) << "SYSTEM's answer is no answer for the examined user";
    }
}

// The examination sets Windows' answer beside each trusted site's user row, where its own
// reading of that site is known, and nowhere else.
TEST(SystemZone, SetsWindowsAnswerBesideTheUserRowsAndSumsUpTheDisagreements) {
    const std::wstring settings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    FakeRegistrySource registry;
    registry.SetDword(Hive::CurrentUser, View::Native,
                      settings + L"\\ZoneMap\\Domains\\qrn.example\\tesk", L"https", 2);
    registry.DenyOpen(Hive::CurrentUser, View::Native,
                      settings + L"\\ZoneMap\\Domains\\qrn.example\\kessor");
    MapZones mapper;  // Internet for everything not named
    mapper.answers[L"https://any-host.pelund.example/"] = {2u, L""};
    mapper.answers[L"https://kessor.qrn.example/"] = {2u, L""};
    const std::vector<CheckResult> rows = ExamineWorkstation(registry, ExaminedUser{}, &mapper);
    const auto user_row = [&](std::wstring_view target) -> const CheckResult& {
        for (const CheckResult& row : rows) {
            if (row.group == kTrustedSitesGroup && row.scope == RowScope::User && row.target == target) {
                return row;
            }
        }
        throw std::logic_error("no such row");
    };
    const CheckResult& tesk = user_row(L"https://tesk.qrn.example");
    ASSERT_EQ(tesk.verdict, RowVerdict::Pass) << std::string(tesk.reason.begin(), tesk.reason.end());
    ASSERT_TRUE(tesk.system_zone.has_value());
    EXPECT_EQ(tesk.system_zone->zone, 3u);
    EXPECT_TRUE(tesk.system_zone->disagreement) << "we pass it, Windows does not";
    EXPECT_TRUE(user_row(L"https://*.pelund.example").system_zone->disagreement);
    EXPECT_TRUE(user_row(L"https://*.drosk.example").system_zone->compared);
    EXPECT_FALSE(user_row(L"https://*.drosk.example").system_zone->disagreement);
    const CheckResult& kessor = user_row(L"https://kessor.qrn.example");
    ASSERT_EQ(kessor.verdict, RowVerdict::Undecided);
    EXPECT_FALSE(kessor.system_zone->compared) << "an undecided row is not compared";
    std::size_t with_zone = 0;
    for (const CheckResult& row : rows) {
        if (!row.system_zone) continue;
        ++with_zone;
        EXPECT_EQ(row.group, kTrustedSitesGroup);
        EXPECT_EQ(row.scope, RowScope::User) << "only the user rows get Windows' answer";
    }
    EXPECT_EQ(with_zone, TrustedSites().size());

    const std::wstring text = ZoneDisagreementText(rows);
    EXPECT_NE(text.find(L"https://tesk.qrn.example: "), std::wstring::npos);
    EXPECT_NE(text.find(L"https://*.pelund.example: "), std::wstring::npos);
    EXPECT_EQ(text.find(L"drosk"), std::wstring::npos);
    EXPECT_EQ(ZoneDisagreementText({}), L"") << "nothing to say, no paragraph";
}

}  // namespace
}  // namespace qtk::companion
