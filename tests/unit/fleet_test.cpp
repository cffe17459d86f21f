// tkfleet: reading untrusted reports, counting the fleet, and writing what a browser and a
// spreadsheet open.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fleet/aggregate.h"
#include "fleet/page.h"
#include "fleet/report.h"
#include "fleet/run.h"
#include "fleet/sample.h"
#include "fleet/sha256.h"

namespace qtk::fleet {
namespace {

using nlohmann::ordered_json;

constexpr std::int64_t kNow = 1'796'688'000'000;  // 2026-12-08T00:00:00Z
constexpr std::int64_t kDay = 86'400'000;

ordered_json Base() { return ordered_json::parse(SampleReport(3, {kNow, 0})); }

// A report of computer with one row per (id, verdict), started at started_ms.
std::string Report(const std::string& computer, std::int64_t started_ms,
                   const std::vector<std::pair<std::string, std::string>>& rows,
                   const std::string& version = "1.2.0", bool incomplete = false) {
    ordered_json report = Base();
    report["computer_name"] = computer;
    report["started_utc"] = FormatUtc(started_ms);
    report["tool"]["version"] = version;
    ordered_json checks = ordered_json::array();
    std::map<std::string, int> counts{{"pass", 0}, {"fail", 0}, {"undecided", 0}};
    for (const auto& [id, verdict] : rows) {
        ordered_json row = report["checks"][0];
        row["id"] = id;
        row["verdict"] = verdict;
        row["reason"] = "because " + id;
        checks.push_back(row);
        ++counts[verdict];
    }
    report["checks"] = checks;
    report["counts"] = {{"pass", counts["pass"]}, {"fail", counts["fail"]}, {"undecided", counts["undecided"]}};
    report["exit_code"] = incomplete ? 3 : 0;
    report["error"] = incomplete ? ordered_json{{"code", 5}, {"description", "Access is denied."},
                                                {"action", "x"}, {"subject", "y"}}
                                 : ordered_json(nullptr);
    return report.dump();
}

// ---------------------------------------------------------------- reading a report

TEST(FleetReport, ReadsWhatTkexamineWrites) {
    const std::string text = Report("WS-1", kNow - kDay, {{"a.user.x", "fail"}, {"b.user.y", "undecided"},
                                                         {"c.machine.z", "pass"}});
    const ReadResult result = ReadReport(text);
    ASSERT_TRUE(std::holds_alternative<DeskReport>(result)) << std::get<Unreadable>(result).reason;
    const DeskReport& desk = std::get<DeskReport>(result);
    EXPECT_EQ(desk.computer_name, "WS-1");
    EXPECT_EQ(desk.started_ms, kNow - kDay);
    EXPECT_EQ(desk.user, Base()["run_context"]["examined_user"]["name"]);
    EXPECT_EQ((std::vector<std::uint32_t>{desk.pass, desk.fail, desk.undecided}),
              (std::vector<std::uint32_t>{1, 1, 1}));
    ASSERT_EQ(desk.failing.size(), 1u);
    EXPECT_EQ(desk.failing[0].reason, "because a.user.x");
    EXPECT_EQ(desk.undecided_ids, std::vector<std::string>{"b.user.y"});
}

TEST(FleetReport, RejectsWhatBreaksTheShapeOrTheLimits) {
    struct Case {
        const char* label;
        std::function<std::string()> text;
        const char* reason;  // a part of the reason given
    };
    const auto edit = [](std::function<void(ordered_json&)> change) {
        return [change] {
            ordered_json report = Base();
            change(report);
            return report.dump();
        };
    };
    const Case cases[] = {
        {"not JSON", [] { return std::string("{\"schema_version\": 1,"); }, "not JSON"},
        {"an array", [] { return std::string("[1]"); }, "array"},
        {"another schema", edit([](auto& r) { r["schema_version"] = 2; }), "schema_version"},
        {"another tool", edit([](auto& r) { r["tool"]["name"] = "other"; }), "not a tkexamine"},
        {"no computer", edit([](auto& r) { r.erase("computer_name"); }), "no computer_name"},
        {"computer a number", edit([](auto& r) { r["computer_name"] = 7; }), "/computer_name"},
        {"computer an object", edit([](auto& r) { r["computer_name"] = ordered_json::object(); }), "/computer_name"},
        {"local time", edit([](auto& r) { r["started_utc"] = "2026-12-08T10:00:00+01:00"; }), "started_utc"},
        {"30 February", edit([](auto& r) { r["started_utc"] = "2026-02-30T10:00:00Z"; }), "started_utc"},
        {"counts disagree", edit([](auto& r) { r["counts"]["fail"] = 9; }), "do not match"},
        {"checks an object", edit([](auto& r) { r["checks"] = ordered_json::object(); }), "/checks"},
        {"odd verdict", edit([](auto& r) { r["checks"][0]["verdict"] = "maybe"; }), "verdict"},
        {"exit code 9", edit([](auto& r) { r["exit_code"] = 9; }), "/exit_code"},
        {"long text", edit([](auto& r) { r["checks"][0]["reason"] = std::string(kMaxTextBytes + 1, 'x'); }),
         "too long"},
        {"deep", edit([](auto& r) {
             ordered_json deep = "x";
             for (int i = 0; i < kMaxDepth; ++i) deep = ordered_json{{"d", deep}};
             r["checks"][0]["details"]["nest"] = deep;
         }), "nested too deeply"},
        {"oversized", [] { return std::string(kMaxReportBytes + 1, ' '); }, "larger than"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const ReadResult result = ReadReport(c.text());
        ASSERT_TRUE(std::holds_alternative<Unreadable>(result));
        EXPECT_NE(std::get<Unreadable>(result).reason.find(c.reason), std::string::npos)
            << std::get<Unreadable>(result).reason;
    }
}

TEST(FleetReport, TimesAndVersions) {
    const struct {
        const char* text;
        std::optional<std::int64_t> ms;
    } times[] = {
        {"2026-12-08T00:00:00Z", kNow},
        {"2026-12-08T00:00:01.250Z", kNow + 1250},
        {"2024-02-29T00:00:00Z", 1'709'164'800'000},
        {"1970-01-01T00:00:00Z", 0},
        {"2023-02-29T00:00:00Z", std::nullopt},
        {"2026-12-08T24:00:00Z", std::nullopt},
        {"2026-12-08 00:00:00Z", std::nullopt},
        {"2026-12-08T00:00:00.5Z", std::nullopt},
    };
    for (const auto& t : times) {
        SCOPED_TRACE(t.text);
        EXPECT_EQ(ParseUtc(t.text), t.ms);
        if (t.ms && *t.ms % 1000 == 0) {
            EXPECT_EQ(FormatUtc(*t.ms), t.text);
        }
    }
    const struct {
        const char *a, *b;
        int order;
    } versions[] = {{"1.2.10", "1.10.0", -1}, {"1.2.0", "1.2.0", 0}, {"2.0.0", "1.99.99", 1},
                    {"1.2.0-beta", "1.2.0", 0}, {"1.2", "1.2.0", 0}};
    for (const auto& v : versions) {
        SCOPED_TRACE(std::string(v.a) + " vs " + v.b);
        EXPECT_EQ(CompareVersions(v.a, v.b), v.order);
    }
}

// ---------------------------------------------------------------- the fleet

TEST(FleetCounts, NewestWinsStaleUnreadableAndCountsById) {
    Fleet fleet(kNow, 7);
    // WS-A's older report failed x and y; its newer one (added first) fails only x.
    fleet.Add("a2.json", ReadReport(Report("WS-A", kNow - 1 * kDay, {{"x.user.t", "fail"}, {"y.user.t", "pass"}})));
    fleet.Add("a1.json", ReadReport(Report("ws-a", kNow - 2 * kDay, {{"x.user.t", "fail"}, {"y.user.t", "fail"}})));
    // Two reports of WS-B at the same moment: the later file name wins.
    fleet.Add("b2.json", ReadReport(Report("WS-B", kNow - 8 * kDay, {{"y.user.t", "undecided"}}, "1.0.0")));
    fleet.Add("b1.json", ReadReport(Report("WS-B", kNow - 8 * kDay, {{"y.user.t", "fail"}})));
    fleet.Add("c.json", ReadReport(Report("WS-C", kNow - kDay, {{"x.user.t", "pass"}})));
    fleet.Add("d.json", ReadReport(Report("WS-D", kNow - kDay, {{"x.user.t", "pass"}}, "1.2.0", true)));
    fleet.Add("e.json", ReadReport(Report("WS-E", kNow - kDay, {{"x.user.t", "fail"}, {"x.user.t", "undecided"}})));
    fleet.Add("bad.json", ReadReport("{"));
    const FleetSummary s = fleet.Summarise();

    EXPECT_EQ((std::vector<std::uint64_t>{s.desks, s.ready, s.failing, s.undecided, s.unreadable, s.stale,
                                          s.old_version, s.reports}),
              (std::vector<std::uint64_t>{5, 1, 2, 2, 1, 1, 1, 8}));
    std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> by_id;
    for (const CheckCount& c : s.checks) by_id[(*s.check_ids)[c.check]] = {c.fail, c.undecided};
    const std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> want{
        {"x.user.t", {2, 0}}, {"y.user.t", {0, 1}}};
    EXPECT_EQ(by_id, want);
    ASSERT_FALSE(s.checks.empty());
    EXPECT_EQ((*s.check_ids)[s.checks[0].check], "x.user.t") << "the most failing check comes first";
    EXPECT_EQ(s.desks_in_order.front().desk->report.computer_name, "WS-A");
    EXPECT_EQ(s.desks_in_order.front().desk->source, "a2.json");
    EXPECT_EQ(s.newest_version, "1.2.0");
    ASSERT_EQ(s.unreadable_reports->size(), 1u);
    EXPECT_EQ((*s.unreadable_reports)[0].source, "bad.json");
}

// ---------------------------------------------------------------- what is written

TEST(FleetOutput, EscapesWhatCameFromAReport) {
    const struct {
        const char *text, *html, *csv;
    } cases[] = {
        {"<script>x</script>", "&lt;script&gt;x&lt;/script&gt;", "\"<script>x</script>\""},
        {"a\" onerror='b'", "a&quot; onerror=&#39;b&#39;", "\"a\"\" onerror='b'\""},
        {"=HYPERLINK(\"x\")", "=HYPERLINK(&quot;x&quot;)", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1", "+1", "\"'+1\""},
        {"-1", "-1", "\"'-1\""},
        {"@SUM(A1)", "@SUM(A1)", "\"'@SUM(A1)\""},
        {"a\x1b[2Jb&c", "a\xEF\xBF\xBD[2Jb&amp;c", "\"a\x1b[2Jb&c\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(HtmlEscape(c.text), c.html);
        EXPECT_EQ(CsvField(c.text), c.csv);
    }
}

TEST(FleetOutput, Sha256KnownAnswersAndThePolicyNamesThePagesOwnHashes) {
    const struct {
        std::string text;
        const char* base64;
    } cases[] = {
        {"", "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU="},
        {"abc", "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0="},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "JI1qYdIGOLjlwCaTDD5gOaM85Flk/yFn9uzt1BnbBsE="},
        {std::string(1000, 'a'), "Qe3s5C1j6Nm/UVqbppMuHCDLyfWl0TRkWttdsblzfqM="},
        {std::string(55, 'a'), "n0OQ+NMMLdkuyfCVtl4rmumwqSWlJY4kHJ8ekQ9zQxg="},
        {std::string(64, 'a'), "/+BU/nrgy23GXDr5th1SCfQ5hR20PQulmXM33xVGaOs="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        const auto digest = Sha256(c.text);
        EXPECT_EQ(Base64(digest.data(), digest.size()), c.base64);
    }
    Fleet fleet(kNow, 7);
    fleet.Add("h.json", ReadReport(HostileReport(kNow)));
    const std::string page = FleetPage(fleet.Summarise(), {kNow, {"reports"}, "1.0.0"});
    const auto inline_text = [&page](const std::string& tag) {
        const std::size_t start = page.find("<" + tag + ">") + tag.size() + 2;
        return page.substr(start, page.find("</" + tag + ">", start) - start);
    };
    const std::string policy = ContentSecurityPolicy();
    for (const std::string tag : {"script", "style"}) {
        SCOPED_TRACE(tag);
        const auto digest = Sha256(inline_text(tag));
        EXPECT_NE(policy.find(tag + "-src 'sha256-" + Base64(digest.data(), digest.size()) + "'"),
                  std::string::npos);
    }
    EXPECT_EQ(page.find("<script>document"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
}

// ---------------------------------------------------------------- the command line and the run

TEST(FleetRun, CommandLine) {
    const struct {
        std::vector<std::string> args;
        bool slash;
        std::optional<std::string> out;  // nothing: rejected
        int stale_days;
    } cases[] = {
        {{"r"}, false, ".", 7},
        {{"r", "s", "--out", "o", "--stale-days", "3"}, false, "o", 3},
        {{"--OUT=o", "r", "--stale-days=30"}, false, "o", 30},
        {{"\\\\srv\\share", "/out:C:\\o", "/Stale-Days", "2"}, true, "C:\\o", 2},
        {{"/srv/reports"}, false, ".", 7},
        {{"/?"}, false, ".", 7},
        {{}, false, std::nullopt, 0},
        {{"r", "--stale-days", "0"}, false, std::nullopt, 0},
        {{"r", "--stale-days", "7x"}, false, std::nullopt, 0},
        {{"r", "--out"}, false, std::nullopt, 0},
        {{"r", "--colour"}, false, std::nullopt, 0},
        {{"/srv/reports"}, true, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ParsedCommandLine parsed = ParseCommandLine(c.args, c.slash);
        ASSERT_EQ(parsed.options.has_value(), c.out.has_value()) << parsed.error;
        if (!c.out) continue;
        EXPECT_EQ(parsed.options->out_dir, *c.out);
        EXPECT_EQ(parsed.options->stale_days, c.stale_days);
    }
}

class FakeIo : public FleetIo {
public:
    std::map<std::string, std::map<std::string, std::string>> folders;
    std::map<std::string, std::string> written;
    bool writable = true;
    std::string err;

    bool ListReports(const std::string& folder, const std::function<void(const std::string&)>& found,
                     std::string& why) override {
        const auto it = folders.find(folder);
        if (it == folders.end()) return why = "not found", false;
        for (const auto& [name, text] : it->second) found(folder + "/" + name);
        return true;
    }
    bool ReadFile(const std::string& path, std::size_t limit, std::string& bytes, std::string&) override {
        const std::size_t cut = path.rfind('/');
        bytes = folders[path.substr(0, cut)][path.substr(cut + 1)].substr(0, limit + 1);
        return true;
    }
    bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& why) override {
        if (!writable) return why = "denied", false;
        written[path] = bytes;
        return true;
    }
    std::string Join(const std::string& folder, const std::string& name) override { return folder + "/" + name; }
    void Out(std::string_view) override {}
    void Err(std::string_view text) override { err += text; }
    std::int64_t SteadyMs() override { return 0; }
};

TEST(FleetRun, WritesBothOrSaysWhyNot) {
    const struct {
        const char* label;
        std::vector<std::string> folders;
        bool writable;
        int exit;
    } cases[] = {
        {"written", {"r"}, true, exit_code::kWritten},
        {"a folder missing", {"r", "gone"}, true, exit_code::kCouldNotComplete},
        {"cannot write", {"r"}, false, exit_code::kCouldNotComplete},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeIo io;
        io.folders["r"] = {{"a.json", Report("WS-A", kNow, {{"x.user.t", "fail"}})}, {"b.json", "{"}};
        io.writable = c.writable;
        Options options;
        options.folders = c.folders;
        options.out_dir = "o";
        EXPECT_EQ(qtk::fleet::Run(options, io, kNow, "1.0.0"), c.exit);
        EXPECT_EQ(io.written.size(), c.exit == exit_code::kWritten ? 2u : 0u);
        EXPECT_EQ(io.err.empty(), c.exit == exit_code::kWritten) << io.err;
        if (c.exit != exit_code::kWritten) continue;
        EXPECT_NE(io.written["o/fleet.csv"].find("\"WS-A\",failing,no,"), std::string::npos);
        EXPECT_NE(io.written["o/fleet.csv"].find(",unreadable,"), std::string::npos);
        EXPECT_NE(io.written["o/fleet.html"].find("id=\"total-unreadable\">1<"), std::string::npos);
    }
}

}  // namespace
}  // namespace qtk::fleet
