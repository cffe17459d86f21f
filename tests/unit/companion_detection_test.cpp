// The one line and the exit code a management system's detection script passes through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companion/detection.h"
#include "companion/report_json.h"

namespace qtk::companion {
namespace {

std::string Narrow(const std::wstring& text) { return Utf8(text); }

// The length Windows gives the text: UTF-16 units (wchar_t is UTF-32 on this host).
std::size_t Utf16Units(const std::wstring& text) {
    std::size_t units = 0;
    for (const wchar_t c : text) units += static_cast<std::uint32_t>(c) > 0xFFFF ? 2 : 1;
    return units;
}

CheckResult Row(std::string id, RowVerdict verdict, std::wstring reason = L"why") {
    CheckResult row;
    row.id = std::move(id);
    row.group = row.id.substr(0, row.id.find('.'));
    row.verdict = verdict;
    row.reason = std::move(reason);
    return row;
}

UserChoice Somchai() {
    UserChoice choice;
    choice.user.is_process_user = false;
    choice.user.sid = L"S-1-5-21-7-7-7-1105";
    choice.user.name = L"CORP\\somchai";
    return choice;
}

UserChoice Nobody() {
    UserChoice choice;
    choice.user.logged_on = false;
    choice.user.is_process_user = false;
    return choice;
}

UserChoice Myself() {
    UserChoice choice;
    choice.process_sid = L"S-1-5-21-0-0-0-1000";
    choice.user.name = L"PC\\support";
    return choice;
}

TEST(Detection, TheLineAndTheExitCode) {
    const RowVerdict P = RowVerdict::Pass, F = RowVerdict::Fail, U = RowVerdict::Undecided;
    struct Case {
        const char* label;
        std::vector<CheckResult> rows;
        bool strict;
        std::vector<std::string> skipped;
        bool issue;
        std::string line;
        UserChoice (*user)() = Somchai;
    };
    const std::string user = ", user CORP\\somchai (S-1-5-21-7-7-7-1105)";
    const Case cases[] = {
        {"every row passed", {Row("a.machine.x", P), Row("a.user.y", P)}, false, {}, false,
         "no issue: 2 passed, 0 failed, 0 undecided" + user},
        {"undecided only: no issue, but named with the reason once",
         {Row("a.machine.x", P), Row("a.user.y", U, L"no user logged on"),
          Row("b.user.z", U, L"no user logged on"), Row("t.user.c", U, L"access denied")},
         false, {}, false,
         "no issue: 1 passed, 0 failed, 3 undecided" + user +
             "; undecided (no user logged on): a.user.y, b.user.z; undecided (access denied): t.user.c"},
        {"undecided only, strict: an issue",
         {Row("a.machine.x", P), Row("a.user.y", U, L"no user logged on")}, true, {}, true,
         "issue: 1 passed, 0 failed, 1 undecided" + user +
             "; undecided (no user logged on): a.user.y"},
        {"a failure outranks undecided rows, and comes first",
         {Row("a.user.y", U, L"denied"), Row("trusted_sites.user.https:tesk.qrn.example", F),
          Row("a.machine.x", F)},
         false, {}, true,
         "issue: 0 passed, 2 failed, 1 undecided" + user +
             "; failed: trusted_sites.user.https:tesk.qrn.example, a.machine.x; undecided (denied): a.user.y"},
        {"groups left out are said", {Row("a.machine.x", P)}, false, {"token", "ie_mode"}, false,
         "no issue: 1 passed, 0 failed, 0 undecided" + user + ", left out: token ie_mode"},
        {"a reason that would break the line", {Row("a.user.y", U, L"bad\r\nname")}, false, {},
         false, "no issue: 0 passed, 0 failed, 1 undecided" + user + "; undecided (bad??name): a.user.y"},
        {"nobody's settings", {Row("a.user.y", U, L"several users are signed in (A, B)")}, false,
         {}, false,
         "no issue: 0 passed, 0 failed, 1 undecided, user none; undecided (several users are "
         "signed in (A, B)): a.user.y",
         Nobody},
        {"the process's own user", {}, false, {}, false,
         "no issue: 0 passed, 0 failed, 0 undecided, user PC\\support (S-1-5-21-0-0-0-1000)", Myself},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Detection detection = DetectionOf(c.rows, c.user(), c.skipped, c.strict);
        EXPECT_EQ(detection.issue, c.issue);
        EXPECT_EQ(detection.ExitCode(), c.issue ? 1 : 0);
        EXPECT_EQ(Narrow(detection.line), c.line);
    }
}

TEST(Detection, ARunThatCouldNotCompleteIsAnIssue) {
    const Detection detection = CouldNotComplete(L"Cannot write the report: C:\\r.json (error 5: Access is denied.\r\n)");
    EXPECT_TRUE(detection.issue);
    EXPECT_EQ(detection.ExitCode(), 1);
    EXPECT_EQ(Narrow(detection.line),
              "issue: could not complete: Cannot write the report: C:\\r.json (error 5: Access is denied.?" "?)");
}

TEST(Detection, ALongLineIsCutOnACharacterWithAMark) {
    const std::wstring mark(kCutMark);
    const std::wstring face = L"\U0001F600";  // two UTF-16 units on Windows
    const std::wstring thai = L"\u0e17\u0e14\u0e2a\u0e2d\u0e1a";
    struct Case {
        const char* label;
        std::wstring text;
        std::size_t limit;
        std::wstring want;
    };
    const Case cases[] = {
        {"short: as it is", L"no issue: 1 passed", 2048, L"no issue: 1 passed"},
        {"exactly at the limit: as it is", std::wstring(2048, L'x'), 2048, std::wstring(2048, L'x')},
        {"one over: cut with the mark", std::wstring(2049, L'x'), 2048,
         std::wstring(2048 - mark.size(), L'x') + mark},
        // Room for ten units before the mark.
        {"a pair that would straddle the cut is left whole out",
         std::wstring(9, L'x') + face + std::wstring(12, L'y'), 10 + mark.size(),
         std::wstring(9, L'x') + mark},
        {"a pair that fits is kept", std::wstring(8, L'x') + face + std::wstring(12, L'y'),
         10 + mark.size(), std::wstring(8, L'x') + face + mark},
        {"Thai text counts one unit a letter", thai + thai, 10, thai + thai},
        {"a tab and a line break become visible", L"a\tb\nc", 2048, L"a?b?c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring line = FitLine(c.text, c.limit);
        EXPECT_EQ(Narrow(line), Narrow(c.want));
        EXPECT_LE(Utf16Units(line), c.limit);
    }
}

TEST(Detection, AThousandFailuresStillFitTheManagementSystemsLine) {
    std::vector<CheckResult> rows;
    for (int i = 0; i < 1000; ++i) {
        rows.push_back(Row("trusted_sites.user.https:site" + std::to_string(i) + ".example",
                           RowVerdict::Fail));
    }
    const Detection detection = DetectionOf(rows, Somchai(), {}, false);
    EXPECT_TRUE(detection.issue);
    EXPECT_LE(Utf16Units(detection.line), kDetectionLineLimit);
    EXPECT_EQ(Narrow(detection.line).rfind("issue: 0 passed, 1000 failed, 0 undecided, user CORP", 0), 0u);
    EXPECT_EQ(Narrow(detection.line.substr(detection.line.size() - kCutMark.size())),
              Narrow(std::wstring(kCutMark)));
}

TEST(Detection, IsAskedForInEitherSpellingEvenOnABadLine) {
    const std::pair<std::vector<std::wstring>, bool> cases[] = {
        {{L"--detect"}, true},
        {{L"/DETECT:strict"}, true},
        {{L"--frobnicate", L"--detect=loud"}, true},
        {{L"--report-only", L"--json"}, false},
        {{L"detect"}, false},
        {{L"--detector"}, false},
    };
    for (const auto& [args, asked] : cases) {
        SCOPED_TRACE(Narrow(args.back()));
        EXPECT_EQ(AsksForDetection(args), asked);
    }
}

}  // namespace
}  // namespace qtk::companion
