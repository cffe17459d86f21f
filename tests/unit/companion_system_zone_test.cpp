// Windows' own zone beside the companion's reading: when it is asked, and which answers are
// disagreements that the report must mark.
#include "companion/system_zone.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "checks/tables.h"

namespace qtk::companion {
namespace {

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
        Outcome ours;
        ZoneAnswer system;
        bool compared;
        bool disagreement;
    } cases[] = {
        {"both trusted", Outcome::Ok, {2u, L""}, true, false},
        {"both not trusted", Outcome::Fail, {3u, L""}, true, false},
        {"we pass it, Windows maps it to the Internet", Outcome::Ok, {3u, L""}, true, true},
        {"we pass it, Windows restricts it", Outcome::Ok, {4u, L""}, true, true},
        {"Windows trusts what the user's settings do not", Outcome::Fail, {2u, L""}, true, true},
        {"our reading undecided is not compared", Outcome::CannotLook, {3u, L""}, false, false},
        {"no zone from Windows is no disagreement", Outcome::Ok, {std::nullopt, L"E_FAIL"}, false,
         false},
    };
    const std::wstring kTesk = L"https://tesk.qrn.example";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<Finding> ours(TrustedSites().size(), Finding{Outcome::Fail, L"", L""});
        ours[IndexOf(kTesk)] = Finding{c.ours, L"", L""};
        MapZones mapper;
        mapper.answers[L"https://tesk.qrn.example/"] = c.system;
        const std::vector<ZoneComparison> comparisons =
            CompareWithSystemZones(ours, mapper, ExaminedUser{});
        ASSERT_EQ(comparisons.size(), TrustedSites().size());
        const ZoneComparison& tesk = comparisons[IndexOf(kTesk)];
        EXPECT_TRUE(tesk.asked);
        EXPECT_EQ(tesk.system_zone, c.system.zone);
        EXPECT_EQ(tesk.compared, c.compared);
        EXPECT_EQ(tesk.disagreement, c.disagreement);
        if (!c.compared) {
            EXPECT_FALSE(tesk.note.empty()) << "say why it was not compared";
        }
        const std::vector<std::wstring> lines = DisagreementLines(comparisons);
        EXPECT_EQ(lines.size(), c.disagreement ? 1u : 0u);
        if (c.disagreement) {
            EXPECT_EQ(lines[0].rfind(kTesk, 0), 0u) << "the line names the site";
        }
        // The other sites: ours Fail, Windows Internet, so no disagreement.
        for (const ZoneComparison& other : comparisons) {
            if (other.target != kTesk) {
                EXPECT_FALSE(other.disagreement);
            }
        }
    }
}

TEST(SystemZone, AskedOnlyForTheProcessOwnUser) {
    const std::vector<Finding> ours(TrustedSites().size(), Finding{Outcome::Ok, L"", L""});
    ExaminedUser other;
    other.is_process_user = false;
    other.sid = L"S-1-5-21-111-222-333-1001";
    other.name = L"QRN\\clerk";
    ExaminedUser nobody;
    nobody.logged_on = false;
    for (const ExaminedUser& user : {other, nobody}) {
        MapZones mapper;
        const std::vector<ZoneComparison> comparisons = CompareWithSystemZones(ours, mapper, user);
        EXPECT_EQ(mapper.asked, 0) << "SYSTEM's answer is no answer for the examined user";
        for (const ZoneComparison& c : comparisons) {
            SCOPED_TRACE(std::string(c.target.begin(), c.target.end()));
            EXPECT_FALSE(c.asked);
            EXPECT_FALSE(c.system_zone.has_value());
            EXPECT_FALSE(c.disagreement);
            EXPECT_NE(c.note.find(L"not asked"), std::wstring::npos);
            CheckResult row;
            AddZoneDetails(c, &row);
            for (const auto& [name, value] : row.details) {
                EXPECT_NE(name, "system_zone") << "the field is left out";
            }
        }
    }
}

std::wstring Detail(const CheckResult& row, std::string_view name) {
    for (const auto& [key, value] : row.details) {
        if (key == name) return value;
    }
    return L"(none)";
}

// The report's rows as the examination leaves them: the trusted-site rows for both scopes
// and a row of another group; Windows' answer goes beside the user rows only.
TEST(SystemZone, SetsWindowsAnswerBesideTheUserRowsAndSumsUpTheDisagreements) {
    std::vector<CheckResult> rows;
    for (const TrustedSite& site : TrustedSites()) {
        for (const RowScope scope : {RowScope::User, RowScope::Machine}) {
            CheckResult row;
            row.group = std::string(kTrustedSitesGroup);
            row.scope = scope;
            row.target = SiteCaption(site);
            row.verdict = RowVerdict::Fail;
            rows.push_back(row);
        }
    }
    CheckResult other;
    other.group = "popup_allowed";
    other.scope = RowScope::User;
    other.target = L"https://tesk.qrn.example";  // same text, another group
    rows.push_back(other);
    const auto user_row = [&](std::wstring_view target) -> CheckResult& {
        for (CheckResult& row : rows) {
            if (row.group == kTrustedSitesGroup && row.scope == RowScope::User && row.target == target) {
                return row;
            }
        }
        throw std::logic_error("no such row");
    };
    user_row(L"https://tesk.qrn.example").verdict = RowVerdict::Pass;
    user_row(L"https://kessor.qrn.example").verdict = RowVerdict::Undecided;

    MapZones mapper;  // Internet for everything not named
    mapper.answers[L"https://any-host.pelund.example/"] = {2u, L""};
    mapper.answers[L"https://kessor.qrn.example/"] = {2u, L""};
    AddSystemZones(rows, mapper, ExaminedUser{});

    const CheckResult& tesk = user_row(L"https://tesk.qrn.example");
    EXPECT_EQ(Detail(tesk, "system_zone"), L"3 (Internet)");
    EXPECT_EQ(Detail(tesk, "zone_disagreement"), L"yes") << "we pass it, Windows does not";
    EXPECT_EQ(Detail(user_row(L"https://*.pelund.example"), "zone_disagreement"), L"yes");
    EXPECT_EQ(Detail(user_row(L"https://*.drosk.example"), "zone_disagreement"), L"no");
    EXPECT_EQ(Detail(user_row(L"https://kessor.qrn.example"), "zone_disagreement"), L"(none)")
        << "an undecided row is not compared";
    for (const CheckResult& row : rows) {
        if (row.scope == RowScope::Machine || row.group != kTrustedSitesGroup) {
            EXPECT_TRUE(row.details.empty()) << "only the user rows get Windows' answer";
        }
    }

    const std::wstring text = ZoneDisagreementText(rows);
    EXPECT_NE(text.find(L"https://tesk.qrn.example: "), std::wstring::npos);
    EXPECT_NE(text.find(L"https://*.pelund.example: "), std::wstring::npos);
    EXPECT_EQ(text.find(L"drosk"), std::wstring::npos);
    EXPECT_EQ(ZoneDisagreementText({}), L"") << "nothing to say, no paragraph";
}

}  // namespace
}  // namespace qtk::companion
