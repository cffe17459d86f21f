// The companion's command line, the choice of whose settings are examined, and what the
// run reports: rows, exit code, summary and the JSON report.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "checks/tables.h"
#include "companion/check_rows.h"
#include "companion/cli.h"
#include "companion/examination.h"
#include "companion/report_json.h"
#include "companion/run_context.h"
#include "companion/summary.h"
#include "fake_registry.h"

namespace qtk::companion {
namespace {

using testing::FakeRegistrySource;

std::string Narrow(const std::wstring& text) { return Utf8(text); }

// ---------------------------------------------------------------- command line

TEST(CommandLine, AcceptsEveryOptionInBothSpellings) {
    struct Case {
        const char* label;
        std::vector<std::wstring> args;
        Options want;
    };
    const auto with = [](auto change) {
        Options o;
        change(o);
        return o;
    };
    const Case cases[] = {
        {"nothing: examine and write markers", {}, Options{}},
        {"/?", {L"/?"}, with([](Options& o) { o.help = true; })},
        {"-h", {L"-h"}, with([](Options& o) { o.help = true; })},
        {"--help", {L"--help"}, with([](Options& o) { o.help = true; })},
        {"/HELP in capitals", {L"/HELP"}, with([](Options& o) { o.help = true; })},
        {"--version", {L"--version"}, with([](Options& o) { o.version = true; })},
        {"/quiet /report-only", {L"/quiet", L"/report-only"},
         with([](Options& o) { o.quiet = o.report_only = true; })},
        {"--json to the output", {L"--json"}, with([](Options& o) { o.json = Options::Json::Stdout; })},
        {"--json=PATH", {L"--json=C:\\reports\\x.json"}, with([](Options& o) {
             o.json = Options::Json::Path;
             o.json_path = L"C:\\reports\\x.json";
         })},
        {"/json:PATH keeps the drive's colon", {L"/json:C:\\reports"}, with([](Options& o) {
             o.json = Options::Json::Path;
             o.json_path = L"C:\\reports";
         })},
        {"/json=\\\\server\\share\\", {L"/json=\\\\srv\\share\\"}, with([](Options& o) {
             o.json = Options::Json::Path;
             o.json_path = L"\\\\srv\\share\\";
         })},
        {"--user SID as two arguments", {L"--user", L"S-1-5-21-111-222-333-1001"},
         with([](Options& o) { o.user_sid = L"S-1-5-21-111-222-333-1001"; })},
        {"/user=sid in lower case", {L"/user=s-1-5-18"}, with([](Options& o) { o.user_sid = L"S-1-5-18"; })},
        {"--skip=token", {L"--skip=token"}, with([](Options& o) { o.skip = {"token"}; })},
        {"--what-if changes nothing", {L"--what-if", L"--json=C:\\r.json"}, with([](Options& o) {
             o.what_if = true;
             o.report_only = true;
             o.json = Options::Json::Path;
             o.json_path = L"C:\\r.json";
         })},
        {"--fix, its report to a file", {L"--fix", L"--json=C:\\r.json"}, with([](Options& o) {
             o.fix = true;
             o.json = Options::Json::Path;
             o.json_path = L"C:\\r.json";
         })},
        {"/undo:FILE /force", {L"/undo:C:\\u.json", L"/force"}, with([](Options& o) {
             o.undo_path = L"C:\\u.json";
             o.force = true;
         })},
        {"--undo FILE as two arguments", {L"--undo", L"u.json"},
         with([](Options& o) { o.undo_path = L"u.json"; })},
        {"/skip:IE_MODE,token,ie_mode: folded, each once, in order",
         {L"/skip:IE_MODE,token,ie_mode"}, with([](Options& o) { o.skip = {"ie_mode", "token"}; })},
        {"--skip as two arguments, given twice", {L"--skip", L"token", L"--skip=token"},
         with([](Options& o) { o.skip = {"token"}; })},
        {"--detect: report only", {L"--detect"}, with([](Options& o) {
             o.detect = Options::Detect::On;
             o.report_only = true;
         })},
        {"/DETECT:Strict with a report file", {L"/DETECT:Strict", L"--json=C:\\r.json"},
         with([](Options& o) {
             o.detect = Options::Detect::Strict;
             o.report_only = true;
             o.json = Options::Json::Path;
             o.json_path = L"C:\\r.json";
         })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const ParsedCommandLine parsed = ParseCommandLine(c.args);
        ASSERT_TRUE(parsed.options) << Narrow(parsed.error);
        const Options& got = *parsed.options;
        EXPECT_EQ(got.help, c.want.help);
        EXPECT_EQ(got.version, c.want.version);
        EXPECT_EQ(got.quiet, c.want.quiet);
        EXPECT_EQ(got.report_only, c.want.report_only);
        EXPECT_EQ(got.json, c.want.json);
        EXPECT_EQ(Narrow(got.json_path), Narrow(c.want.json_path));
        EXPECT_EQ(Narrow(got.user_sid), Narrow(c.want.user_sid));
        EXPECT_EQ(got.skip, c.want.skip);
        EXPECT_EQ(got.detect, c.want.detect);
        EXPECT_EQ(got.what_if, c.want.what_if);
        EXPECT_EQ(got.fix, c.want.fix);
        EXPECT_EQ(Narrow(got.undo_path), Narrow(c.want.undo_path));
        EXPECT_EQ(got.force, c.want.force);
    }
}

TEST(CommandLine, RejectsWhatItDoesNotUnderstand) {
    struct Case {
        const char* label;
        std::vector<std::wstring> args;
    };
    const Case cases[] = {
        {"unknown option", {L"--frobnicate"}},
        {"unknown slash option", {L"/x"}},
        {"a bare word", {L"report"}},
        {"a lone dash", {L"-"}},
        {"a lone slash", {L"/"}},
        {"single dash long name", {L"-help"}},
        {"--json= with nothing", {L"--json="}},
        {"--what-if with --detect", {L"--what-if", L"--detect"}},
        {"--what-if with the report on the standard output", {L"--json", L"--what-if"}},
        {"--what-if with a value", {L"--what-if=yes"}},
        {"--fix with --what-if", {L"--fix", L"--what-if"}},
        {"--fix with --undo", {L"--fix", L"--undo", L"u.json"}},
        {"--fix with --detect", {L"--detect", L"--fix"}},
        {"--fix with the report on the standard output", {L"--fix", L"--json"}},
        {"--undo without its file", {L"--undo"}},
        {"--undo= with nothing", {L"--undo="}},
        {"--force without --undo", {L"--fix", L"--force"}},
        {"--json twice", {L"--json", L"--json=x"}},
        {"--user without a SID", {L"--user"}},
        {"--user with a path in it", {L"--user", L"S-1-5-21-1\\..\\..\\x"}},
        {"--user with a relative path", {L"--user=..\\S-1-5-18"}},
        {"--user with letters", {L"--user", L"S-1-5-21-abc"}},
        {"--user with an empty part", {L"--user", L"S-1-5--21"}},
        {"--user with too few parts", {L"--user", L"S-1-5"}},
        {"--user twice", {L"--user", L"S-1-5-18", L"--user", L"S-1-5-18"}},
        {"a flag with a value", {L"--quiet=yes"}},
        {"help with a value", {L"/?=1"}},
        {"--skip without a group", {L"--skip"}},
        {"--skip of a group the window needs", {L"--skip=trusted_sites"}},
        {"--skip of an unknown group", {L"--skip=token,bogus"}},
        {"--skip with an empty name", {L"--skip=token,"}},
        {"--detect with an unknown mode", {L"--detect=loud"}},
        {"--detect twice", {L"--detect", L"/detect:strict"}},
        {"--detect with the report on the same output", {L"--detect", L"--json"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const ParsedCommandLine parsed = ParseCommandLine(c.args);
        EXPECT_FALSE(parsed.options);
        EXPECT_FALSE(parsed.error.empty());
    }
}

// ---------------------------------------------------------------- whose settings

class FakeSessions : public SessionSource {
public:
    std::wstring process_sid = L"S-1-5-21-0-0-0-1000";
    std::optional<std::uint32_t> console = 1;
    long session_error = 0;
    std::wstring session_sid = L"S-1-5-21-7-7-7-1105";
    std::map<std::wstring, std::wstring> names{{L"S-1-5-18", L"NT AUTHORITY\\SYSTEM"},
                                               {L"S-1-5-21-0-0-0-1000", L"PC\\support"},
                                               {L"S-1-5-21-7-7-7-1105", L"CORP\\somchai"}};
    std::vector<std::wstring> loaded{L"S-1-5-21-7-7-7-1105", L"S-1-5-18"};

    // Sessions other than the console's: who is signed in to each, or the error of asking.
    std::vector<std::uint32_t> active;
    long active_error = 0;
    std::map<std::uint32_t, std::pair<long, std::wstring>> others;

    std::wstring ProcessUserSid() override { return process_sid; }
    std::optional<std::uint32_t> ConsoleSession() override { return console; }
    long SessionUserSid(std::uint32_t session, std::wstring* sid) override {
        const auto other = others.find(session);
        if (other != others.end()) {
            if (other->second.first == 0) *sid = other->second.second;
            return other->second.first;
        }
        if (session != console) return kErrorNoToken;
        if (session_error == 0) *sid = session_sid;
        return session_error;
    }
    long ActiveSessions(std::vector<std::uint32_t>* sessions) override {
        *sessions = active;
        return active_error;
    }
    std::wstring AccountName(const std::wstring& sid) override {
        const auto found = names.find(sid);
        return found == names.end() ? std::wstring() : found->second;
    }
    bool HiveLoaded(const std::wstring& sid) override {
        for (const std::wstring& s : loaded) {
            if (s == sid) return true;
        }
        return false;
    }
};

TEST(ExaminedUser, IsChosenFromWhoRunsAndWhoIsAtTheConsole) {
    struct Case {
        const char* label;
        void (*setup)(FakeSessions&);
        std::wstring requested;
        bool logged_on;
        bool process_user;
        std::wstring sid;  // as the report names it
        std::wstring name;
        std::wstring reason;
    };
    const auto system = [](FakeSessions& s) { s.process_sid = L"S-1-5-18"; };
    const Case cases[] = {
        {"a person runs it: their own settings", [](FakeSessions&) {}, L"", true, true,
         L"S-1-5-21-0-0-0-1000", L"PC\\support", L""},
        {"a person names themselves", [](FakeSessions&) {}, L"S-1-5-21-0-0-0-1000", true, true,
         L"S-1-5-21-0-0-0-1000", L"PC\\support", L""},
        {"SYSTEM with a user at the console", system, L"", true, false, L"S-1-5-21-7-7-7-1105",
         L"CORP\\somchai", L""},
        {"SYSTEM, no session at the console",
         [](FakeSessions& s) {
             s.process_sid = L"S-1-5-18";
             s.console.reset();
         },
         L"", false, false, L"", L"", L"no user logged on"},
        {"SYSTEM, a console session nobody is logged on to",
         [](FakeSessions& s) {
             s.process_sid = L"S-1-5-18";
             s.session_error = kErrorNoToken;
         },
         L"", false, false, L"", L"", L"no user logged on"},
        {"SYSTEM, the session's token refused",
         [](FakeSessions& s) {
             s.process_sid = L"S-1-5-18";
             s.session_error = 5;
         },
         L"", false, false, L"", L"", L"cannot find the user at the console (error 5)"},
        {"SYSTEM, the console user's hive not loaded",
         [](FakeSessions& s) {
             s.process_sid = L"S-1-5-18";
             s.loaded.clear();
         },
         L"", false, false, L"", L"",
         L"the settings of S-1-5-21-7-7-7-1105 are not loaded (the user is not logged on)"},
        {"--user names another user", [](FakeSessions&) {}, L"S-1-5-21-7-7-7-1105", true, false,
         L"S-1-5-21-7-7-7-1105", L"CORP\\somchai", L""},
        {"SYSTEM with --user: that user, not the console's", system, L"S-1-5-21-7-7-7-1105", true,
         false, L"S-1-5-21-7-7-7-1105", L"CORP\\somchai", L""},
        {"--user of someone not logged on", [](FakeSessions&) {}, L"S-1-5-21-9-9-9-2000", false,
         false, L"", L"", L"the settings of S-1-5-21-9-9-9-2000 are not loaded (the user is not logged on)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FakeSessions sessions;
        c.setup(sessions);
        const UserChoice choice = ChooseUser(sessions, c.requested);
        EXPECT_EQ(choice.user.logged_on, c.logged_on);
        EXPECT_EQ(choice.user.is_process_user, c.process_user);
        EXPECT_EQ(choice.as_system, sessions.process_sid == L"S-1-5-18");
        EXPECT_EQ(Narrow(choice.unavailable_reason), Narrow(c.reason));
        if (c.logged_on) {
            EXPECT_EQ(Narrow(ExaminedSid(choice)), Narrow(c.sid));
            EXPECT_EQ(Narrow(choice.user.name), Narrow(c.name));
            // SYSTEM's own settings are never the examined user's.
            EXPECT_NE(Narrow(ExaminedSid(choice)), "S-1-5-18");
        }
    }
}

// Under SYSTEM with nobody at the console: the desk reached over Remote Desktop, or a
// multi-session host's one active user; never a guess among several.
TEST(ExaminedUser, NobodyAtTheConsoleTakesTheOneActiveSession) {
    struct Case {
        const char* label;
        void (*setup)(FakeSessions&);
        std::wstring sid;     // the one chosen; empty when nobody
        std::wstring reason;  // part of the reason when nobody
    };
    const std::wstring remote = L"S-1-5-21-7-7-7-1105";
    const Case cases[] = {
        {"one remote session, the console at its sign-in screen",
         [](FakeSessions& s) {
             s.active = {1, 3};
             s.others[3] = {0, L"S-1-5-21-7-7-7-1105"};
         },
         remote, L""},
        {"no console attached, one active session",
         [](FakeSessions& s) {
             s.console.reset();
             s.active = {2};
             s.others[2] = {0, L"S-1-5-21-7-7-7-1105"};
         },
         remote, L""},
        {"one user in two sessions",
         [](FakeSessions& s) {
             s.active = {2, 3};
             s.others[2] = {0, L"S-1-5-21-7-7-7-1105"};
             s.others[3] = {0, L"S-1-5-21-7-7-7-1105"};
         },
         remote, L""},
        {"several users: named, and told to choose",
         [](FakeSessions& s) {
             s.active = {2, 3};
             s.others[2] = {0, L"S-1-5-21-7-7-7-1105"};
             s.others[3] = {0, L"S-1-5-21-7-7-7-2208"};
         },
         L"", L"several users are signed in (CORP\\somchai (S-1-5-21-7-7-7-1105), "
              L"S-1-5-21-7-7-7-2208); name the one to examine with --user SID"},
        {"one user and a session that cannot be asked",
         [](FakeSessions& s) {
             s.active = {2, 4};
             s.others[2] = {0, L"S-1-5-21-7-7-7-1105"};
             s.others[4] = {5, L""};
         },
         L"", L"session 4 (error 5)"},
        {"no active session", [](FakeSessions&) {}, L"", L"no user logged on"},
        {"an active session nobody is signed in to",
         [](FakeSessions& s) { s.active = {5}; }, L"", L"no user logged on"},
        {"the sessions cannot be listed", [](FakeSessions& s) { s.active_error = 5; }, L"",
         L"cannot be listed (error 5)"},
        {"the console's user comes first",
         [](FakeSessions& s) {
             s.session_error = 0;
             s.active = {1, 3};
             s.others[3] = {0, L"S-1-5-21-7-7-7-2208"};
         },
         remote, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FakeSessions sessions;
        sessions.process_sid = L"S-1-5-18";
        sessions.session_error = kErrorNoToken;  // nobody at the console
        sessions.loaded.push_back(L"S-1-5-21-7-7-7-2208");
        c.setup(sessions);
        const UserChoice choice = ChooseUser(sessions, L"");
        EXPECT_EQ(choice.user.logged_on, !c.sid.empty()) << Narrow(choice.unavailable_reason);
        if (!c.sid.empty()) {
            EXPECT_EQ(Narrow(ExaminedSid(choice)), Narrow(c.sid));
        } else {
            EXPECT_NE(choice.unavailable_reason.find(c.reason), std::wstring::npos)
                << Narrow(choice.unavailable_reason);
        }
    }
}

// Settings that make every row of the user's own column pass, and the machine's fail.
void UserConfiguredOnly(FakeRegistrySource& r) {
    const std::wstring settings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    for (const TrustedSite& site : TrustedSites()) {
        r.SetDword(Hive::CurrentUser, View::Native,
                   settings + L"\\ZoneMap\\Domains\\" + std::wstring(site.host), L"*", 2);
    }
    for (const ZoneSetting& setting : ZoneSettings()) {
        r.SetDword(Hive::CurrentUser, View::Native, settings + L"\\Zones\\2",
                   std::to_wstring(setting.url_action), 0);
    }
    for (const PopupSite& site : PopupSites()) {
        r.SetString(Hive::CurrentUser, View::Native,
                    L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", site.host, L"");
    }
    // One package only for the user, one for the machine.
    const std::wstring uninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    r.SetString(Hive::CurrentUser, View::Native, uninstall + L"\\a", L"DisplayName",
                SoftwarePackages()[0].display_name);
    r.SetString(Hive::LocalMachine, View::Bits64, uninstall + L"\\b", L"DisplayName",
                SoftwarePackages()[1].display_name);
}

TEST(ExaminedUser, NobodyLoggedOnLeavesEveryUserRowUndecided) {
    struct Case {
        const char* label;
        void (*setup)(FakeSessions&);
        bool available;
    };
    const Case cases[] = {
        {"a person runs it", [](FakeSessions&) {}, true},
        // The fake registry stands for the hive the platform maps HKCU to.
        {"SYSTEM with a user at the console", [](FakeSessions& s) { s.process_sid = L"S-1-5-18"; }, true},
        {"SYSTEM with nobody at the console",
         [](FakeSessions& s) {
             s.process_sid = L"S-1-5-18";
             s.session_error = kErrorNoToken;
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FakeSessions sessions;
        c.setup(sessions);
        const UserChoice choice = ChooseUser(sessions, L"");
        ASSERT_EQ(choice.user.logged_on, c.available);
        FakeRegistrySource fake;
        UserConfiguredOnly(fake);
        const int opens_before = fake.opens;
        ExaminedUserRegistry examined(fake, choice.user.logged_on);
        std::vector<CheckResult> rows = ExamineWorkstation(examined, choice.user);
        EXPECT_GT(fake.opens, opens_before);
        FinishRows(rows, choice);
        std::size_t user_rows = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const CheckResult& row = rows[i];
            SCOPED_TRACE(row.id);
            if (row.scope == RowScope::User) {
                ++user_rows;
                if (c.available) {
                    EXPECT_EQ(row.verdict, RowVerdict::Pass) << Narrow(row.reason);
                } else {
                    EXPECT_EQ(row.verdict, RowVerdict::Undecided);
                    EXPECT_EQ(Narrow(row.reason), "no user logged on");
                    // The marker says the same: the diagnostic leaves the row at "-".
                    EXPECT_EQ(MarkerFileBytes(row), "cannot look,no user logged on\r\n");
                }
            } else if (row.group == "software") {
                // Installed for the machine: found either way. Installed only for a user
                // who is not there: not decidable, and never a pass from someone else.
                const bool machine_package = row.target == SoftwarePackages()[1].display_name;
                if (c.available || machine_package) {
                    EXPECT_EQ(row.verdict, RowVerdict::Pass) << Narrow(row.reason);
                } else {
                    EXPECT_EQ(row.verdict, RowVerdict::Undecided) << Narrow(row.reason);
                    EXPECT_NE(row.reason.find(L"no user logged on"), std::wstring::npos);
                }
            } else {
                EXPECT_EQ(row.verdict, RowVerdict::Fail) << Narrow(row.reason);
            }
            // Whose hive decided: HKCU for the process's user, HKU\<SID> for another.
            const bool system_user = sessions.process_sid == L"S-1-5-18" && c.available;
            if (row.scope == RowScope::User && c.available && !row.place.empty()) {
                EXPECT_EQ(row.place.rfind(system_user ? L"HKU\\S-1-5-21-7-7-7-1105\\" : L"HKCU\\", 0), 0u)
                    << Narrow(row.place);
            }
        }
        EXPECT_EQ(user_rows, TrustedSites().size() + ZoneSettings().size() + PopupSites().size());
        EXPECT_EQ(fake.open_handles, 0);
    }
}

// ---------------------------------------------------------------- rows and exit codes

CheckResult Row(std::string group, RowVerdict verdict, std::wstring target = L"t",
                RowScope scope = RowScope::Machine) {
    CheckResult row;
    row.group = group;
    row.id = group + ".machine." + Narrow(target);
    row.scope = scope;
    row.target = std::move(target);
    row.verdict = verdict;
    row.reason = L"because";
    return row;
}

TEST(ExitCode, FailOutranksUndecidedWhichOutranksPass) {
    using V = RowVerdict;
    struct Case {
        const char* label;
        std::vector<V> verdicts;
        int want;
    };
    const Case cases[] = {
        {"all passed", {V::Pass, V::Pass}, 0},
        {"one failed", {V::Pass, V::Fail}, 1},
        {"one undecided", {V::Undecided, V::Pass}, 2},
        {"failed and undecided", {V::Undecided, V::Fail, V::Undecided}, 1},
        {"only undecided", {V::Undecided}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<CheckResult> rows;
        for (const V v : c.verdicts) rows.push_back(Row("g", v));
        EXPECT_EQ(ExitCodeFor(rows), c.want);
    }
}

TEST(CheckRows, EveryMarkerRowHasAUniqueStableIdAndItsPlace) {
    FakeRegistrySource fake;
    UserConfiguredOnly(fake);
    std::vector<CheckResult> rows = ExamineWorkstation(fake);
    UserChoice other;
    other.user = ExaminedUser{true, false, L"S-1-5-21-7-7-7-1105", L""};
    FinishRows(rows, other);
    std::map<std::string, int> ids;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const CheckResult& row = rows[i];
        SCOPED_TRACE(row.id);
        EXPECT_EQ(++ids[row.id], 1) << "duplicate id";
        EXPECT_FALSE(row.marker.empty());
        EXPECT_EQ(row.id.rfind(row.group + (row.scope == RowScope::User ? ".user." : ".machine."), 0), 0u);
        for (const char c : row.id) EXPECT_TRUE(c > 0x20 && c < 0x7F) << row.id;
        if (row.verdict == RowVerdict::Pass) {
            EXPECT_FALSE(row.place.empty()) << "a pass names the place that decided";
        }
        // Read from another user's hive: no place claims to be HKCU.
        EXPECT_EQ(row.place.find(L"HKCU\\"), std::wstring::npos) << Narrow(row.place);
    }
    // Spot checks of what a fleet's scripts key on.
    EXPECT_EQ(ids.count("trusted_sites.user.https:tesk.qrn.example"), 1u);
    EXPECT_EQ(ids.count("trusted_sites.machine.https:*.qrn.example"), 1u);
    EXPECT_EQ(ids.count("zone_scripting.user.1400"), 1u);
    EXPECT_EQ(ids.count("popup_allowed.user.tesk.qrn.example"), 1u);
    const auto tesk = std::find_if(rows.begin(), rows.end(), [](const CheckResult& r) {
        return r.id == "trusted_sites.user.https:tesk.qrn.example";
    });
    ASSERT_NE(tesk, rows.end());
    EXPECT_EQ(Narrow(tesk->place),
              "HKU\\S-1-5-21-7-7-7-1105\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
              "Settings\\ZoneMap\\Domains\\tesk.qrn.example value *");
}

// ---------------------------------------------------------------- summary

RunFacts Facts() {
    RunFacts facts;
    facts.tool_version = L"1.2.3";
    facts.computer_name = L"PC-01";
    facts.os_version = L"10.0.19045.4291";
    facts.user.process_sid = L"S-1-5-18";
    facts.user.as_system = true;
    facts.user.user.is_process_user = false;
    facts.user.user.sid = L"S-1-5-21-7-7-7-1105";
    facts.user.user.name = L"CORP\\somchai";
    facts.started_utc = "2026-12-07T12:00:00.000Z";
    facts.duration_seconds = 0.25;
    facts.session_id = 1;
    return facts;
}

TEST(Summary, CountsEachGroupAndListsWhatDidNotPass) {
    std::vector<CheckResult> rows = {
        Row("trusted_sites", RowVerdict::Pass, L"https://a"),
        Row("trusted_sites", RowVerdict::Fail, L"https://b"),
        Row("software", RowVerdict::Pass, L"Client"),
        // A group from another examination, appended by its module.
        Row("token", RowVerdict::Undecided, L"reader\r\n\x1b[2Jspoof"),
        Row("trusted_sites", RowVerdict::Undecided, L"https://c"),
    };
    const std::string text = Narrow(SummaryText(rows, Facts()));
    SCOPED_TRACE(text);
    EXPECT_NE(text.find("CORP\\somchai (S-1-5-21-7-7-7-1105)"), std::string::npos);
    EXPECT_NE(text.find("trusted_sites  1 pass, 1 fail, 1 undecided"), std::string::npos);
    EXPECT_NE(text.find("software       1 pass, 0 fail, 0 undecided"), std::string::npos);
    EXPECT_NE(text.find("token          0 pass, 0 fail, 1 undecided"), std::string::npos);
    // Groups in the order they first appear.
    EXPECT_LT(text.find("trusted_sites  "), text.find("software  "));
    EXPECT_LT(text.find("software  "), text.find("token  "));
    EXPECT_NE(text.find("fail      trusted_sites machine https://b: because"), std::string::npos);
    EXPECT_NE(text.find("undecided trusted_sites machine https://c: because"), std::string::npos);
    EXPECT_EQ(text.find("https://a"), std::string::npos) << "passing rows are only counted";
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << "a name cannot drive the console";
    EXPECT_NE(text.find("reader???[2Jspoof"), std::string::npos);
    EXPECT_NE(text.find("Result: 2 pass, 1 fail, 2 undecided"), std::string::npos);

    RunFacts nobody = Facts();
    nobody.user.user.logged_on = false;
    nobody.user.unavailable_reason = L"no user logged on";
    EXPECT_NE(Narrow(SummaryText(rows, nobody)).find("no user's settings: no user logged on"),
              std::string::npos);
}

// ---------------------------------------------------------------- JSON report

TEST(JsonReport, NamesWithOddCharactersRoundTrip) {
    const std::vector<std::pair<const char*, std::wstring>> names = {
        {"quotes and backslashes", L"a \"quoted\" \\name\\"},
        {"control characters", std::wstring(L"tab\there\x01\x1f") + L"\r\nnext"},
        {"Thai host", L"\x0e17\x0e14\x0e2a\x0e2d\x0e1a.example"},
        {"beyond the BMP", L"\U0001F511 key"},
        {"a NUL inside", std::wstring(L"before") + L'\0' + L"after"},
    };
    for (const auto& [label, name] : names) {
        SCOPED_TRACE(label);
        std::vector<CheckResult> rows = {Row("trusted_sites", RowVerdict::Fail, name)};
        rows[0].details.emplace_back("reader", name);
        RunFacts facts = Facts();
        facts.computer_name = name;
        const nlohmann::json report = nlohmann::json::parse(ReportJson(rows, facts, 1, std::nullopt));
        EXPECT_EQ(report["computer_name"].get<std::string>(), Utf8(name));
        EXPECT_EQ(report["checks"][0]["target"].get<std::string>(), Utf8(name));
        EXPECT_EQ(report["checks"][0]["details"]["reader"].get<std::string>(), Utf8(name));
    }
}

// UTF-8 cannot carry half a surrogate pair, high or low: each lone half becomes one
// U+FFFD, wherever it sits, and a whole pair stays one character.
TEST(JsonReport, LoneSurrogatesBecomeTheReplacementCharacter) {
    const auto text = [](std::initializer_list<unsigned> units) {
        std::wstring out;
        for (const unsigned unit : units) out += static_cast<wchar_t>(unit);
        return out;
    };
    const std::string kBad = "\xEF\xBF\xBD";
    const struct {
        const char* label;
        std::wstring text;
        std::string utf8;
    } cases[] = {
        {"lone high inside", text({'x', 0xD800, 'y'}), "x" + kBad + "y"},
        {"lone high at the end", text({'x', 0xDBFF}), "x" + kBad},
        {"lone low at the start", text({0xDC00, 'y'}), kBad + "y"},
        {"lone low inside", text({'x', 0xDFFF, 'y'}), "x" + kBad + "y"},
        {"low before high", text({0xDC00, 0xD800}), kBad + kBad},
        {"two highs, then a low", text({0xD800, 0xD83D, 0xDD11}), kBad + "\xF0\x9F\x94\x91"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Utf8(c.text), c.utf8);
        std::vector<CheckResult> rows = {Row("trusted_sites", RowVerdict::Fail, L"https://a")};
        rows[0].reason = c.text;
        RunFacts facts = Facts();
        facts.computer_name = c.text;
        const std::string json = ReportJson(rows, facts, 1, std::nullopt);
        const nlohmann::json report = nlohmann::json::parse(json);
        EXPECT_EQ(report["computer_name"].get<std::string>(), c.utf8);
        EXPECT_EQ(report["checks"][0]["reason"].get<std::string>(), c.utf8);
    }
}

TEST(JsonReport, StatesTheRunAndEveryRow) {
    std::vector<CheckResult> rows = {Row("trusted_sites", RowVerdict::Pass, L"https://a", RowScope::User),
                                     Row("token", RowVerdict::Undecided, L"reader 1")};
    rows[0].place = L"HKU\\S-1-5-21-7-7-7-1105\\Software\\x value https";
    rows[1].details = {{"atr", L"3B 8F"}, {"state", L"absent"}};
    RunFacts facts = Facts();
    facts.report_only = true;
    const ReportError error{Failure{5, L"Cannot write the report", L"C:\\r.json"}, L"Access is denied."};
    const nlohmann::json r = nlohmann::json::parse(ReportJson(rows, facts, 3, error));
    EXPECT_EQ(r["schema_version"], kReportSchemaVersion);
    EXPECT_EQ(r["tool"]["version"], "1.2.3");
    EXPECT_EQ(r["os_version"], "10.0.19045.4291");
    EXPECT_EQ(r["run_context"]["examined_user"]["sid"], "S-1-5-21-7-7-7-1105");
    EXPECT_EQ(r["run_context"]["examined_user"]["name"], "CORP\\somchai");
    EXPECT_EQ(r["run_context"]["as_system"], true);
    EXPECT_EQ(r["run_context"]["process_user"]["sid"], "S-1-5-18");
    EXPECT_EQ(r["run_context"]["session_id"], 1);
    EXPECT_EQ(r["started_utc"], "2026-12-07T12:00:00.000Z");
    EXPECT_EQ(r["exit_code"], 3);
    EXPECT_EQ(r["report_only"], true);
    EXPECT_EQ(r["counts"]["pass"], 1);
    EXPECT_EQ(r["counts"]["undecided"], 1);
    EXPECT_EQ(r["error"]["code"], 5);
    EXPECT_EQ(r["error"]["subject"], "C:\\r.json");
    ASSERT_EQ(r["checks"].size(), 2u);
    EXPECT_EQ(r["checks"][0]["scope"], "user");
    EXPECT_EQ(r["checks"][0]["verdict"], "pass");
    EXPECT_EQ(r["checks"][0]["place"], rows[0].place.empty() ? "" : Utf8(rows[0].place));
    EXPECT_EQ(r["checks"][1]["verdict"], "undecided");
    EXPECT_EQ(r["checks"][1]["details"]["atr"], "3B 8F");
    EXPECT_EQ(r["checks"][1]["details"]["state"], "absent");

    // Nobody to examine, nothing known of the OS: nulls, not empty strings.
    facts.os_version.clear();
    facts.session_id.reset();
    facts.user.user = ExaminedUser{false, false, L"", L""};
    facts.user.unavailable_reason = L"no user logged on";
    const nlohmann::json n = nlohmann::json::parse(ReportJson(rows, facts, 2, std::nullopt));
    EXPECT_TRUE(n["os_version"].is_null());
    EXPECT_TRUE(n["run_context"]["session_id"].is_null());
    EXPECT_TRUE(n["run_context"]["examined_user"]["sid"].is_null());
    EXPECT_EQ(n["run_context"]["examined_user"]["logged_on"], false);
    EXPECT_EQ(n["run_context"]["examined_user"]["unavailable_reason"], "no user logged on");
    EXPECT_TRUE(n["error"].is_null());
}

TEST(JsonReport, AFolderCollectsOneFilePerComputer) {
    EXPECT_EQ(Narrow(ReportFileInFolder(L"\\\\srv\\fleet", L"PC-01")), "\\\\srv\\fleet\\PC-01.json");
    EXPECT_EQ(Narrow(ReportFileInFolder(L"C:\\r\\", L"PC-01")), "C:\\r\\PC-01.json");
    EXPECT_EQ(Narrow(ReportFileInFolder(L"C:\\r", L"a\\..\\b:c")), "C:\\r\\a_.._b_c.json");
    EXPECT_EQ(Narrow(ReportFileInFolder(L"C:\\r", L"")), "C:\\r\\unknown.json");
}

}  // namespace
}  // namespace qtk::companion
