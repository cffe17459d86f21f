// The check sequence as one run sees it: real files in a temporary directory, a fake
// registry and a board of labels, every call in one log.
#include "app/form2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/layout.h"
#include "fakes.h"

namespace qtk::testing {
namespace {

using namespace std::string_literals;

const std::string kComputerNameKey =
    "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName";
const std::string kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const std::string kOsFile = "C:\\tmptk\\outwinversion.txt";

// Check order of the sequence after the identity step.
std::vector<const CheckGroup*> SequenceGroups() {
    return {&Group(GroupId::TrustedSitesUser),     &Group(GroupId::TrustedSitesMachine),
            &Group(GroupId::SoftwareInstall),      &Group(GroupId::ZoneScriptingUser),
            &Group(GroupId::ZoneScriptingMachine), &Group(GroupId::PopupAllowedSites)};
}

std::string FileName(std::wstring_view path) {
    return Narrow(path.substr(std::wstring_view(L"C:\\tmptk\\").size()));
}

// Which words a status label shows is a matter of the frame it stands in.
std::pair<std::string, std::string> WordsFor(std::string_view label) {
    for (const Control& c : WindowLayout()) {
        if (c.name == label && c.parent == "Frame4") return {"Enable", "Disable"};
    }
    return {"Success", "Fail"};
}

// The marker contents of one run, by position in the sequence.
using Contents = std::function<std::string(std::size_t)>;

std::string AllPass(std::size_t) { return "ok\r\n"; }
std::string Mixed(std::size_t i) {
    static const char* const kinds[] = {"ok\r\n", "no\r\n", "xok\r\n"};
    return kinds[i % 3];
}

// The calls that matter to the sequence: which key or file was opened, which label
// written, which message shown. Reads and closes belong to the readers' own tests.
EventLog Significant(const EventLog& log) {
    EventLog kept;
    for (const std::string& e : log) {
        for (const char* prefix : {"RegOpenKeyExA ", "open ", "color ", "caption ", "message "}) {
            if (e.starts_with(prefix)) {
                kept.push_back(e);
                break;
            }
        }
    }
    return kept;
}

struct Identity {
    std::string version_file = "6.1.7601\r\nsecond line\r\n";
    std::string expected_os = "Windows 7 Professional 6.1.7601";
};

// Writes every input of a complete run.
void Prepare(FakePlatform& fake, const Contents& contents, const Identity& identity = {}) {
    fake.registry.SetValue(kComputerNameKey, "ComputerName", "WKS-0042\0"s);
    fake.registry.SetValue(kCurrentVersionKey, "ProductName", "Windows 7 Professional\0"s);
    fake.registry.SetValue(kCurrentVersionKey, "CSDVersion", "Service Pack 1\0"s);
    fake.files.Write("outwinversion.txt", identity.version_file);
    std::size_t i = 0;
    for (const CheckGroup* group : SequenceGroups()) {
        for (const CheckRow& row : group->rows) {
            fake.files.Write(Narrow(row.file), contents(i++));
        }
    }
}

// What a complete run with these inputs logs, in order.
EventLog ExpectedRun(const Contents& contents, const Identity& identity = {}) {
    const std::string open_key = " root=0x80000002 options=0 access=1";
    EventLog expected{"RegOpenKeyExA " + kComputerNameKey + open_key,
                      "RegOpenKeyExA " + kCurrentVersionKey + open_key,
                      "RegOpenKeyExA " + kCurrentVersionKey + open_key,
                      "open " + kOsFile,
                      "caption comname WKS-0042",
                      "caption os " + identity.expected_os};
    std::size_t i = 0;
    for (const CheckGroup* group : SequenceGroups()) {
        for (const CheckRow& row : group->rows) {
            const std::string label(row.label);
            const auto [pass, fail] = WordsFor(label);
            expected.push_back("open C:\\tmptk\\" + Narrow(row.file));
            const std::string field = contents(i++);
            if (field.starts_with("ok")) {
                expected.push_back("color " + label + " 0xC000");
                expected.push_back("caption " + label + " " + pass);
            } else if (field.find("ok") == std::string::npos) {
                expected.push_back("color " + label + " 0xFF");
                expected.push_back("caption " + label + " " + fail);
            }
        }
    }
    return expected;
}

EventLog Prefix(const EventLog& events, std::size_t length) {
    return EventLog(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(length));
}

// Every marker's reason reaches its own label and no other, whatever its verdict; a
// marker with nothing after its field leaves its label without one.
TEST(Form2LoadTest, EachReasonGoesToItsOwnLabel) {
    const auto with_reason = [](std::size_t i) {
        static const char* const kinds[] = {"ok", "fail", "cannot look"};
        return i % 4 == 3 ? std::string("ok\r\n")
                          : std::string(kinds[i % 3]) + ",row " + std::to_string(i) + "\r\n";
    };
    FakePlatform fake;
    Prepare(fake, with_reason);
    Form2 form(fake.platform, fake.board);
    form.Load();
    std::size_t i = 0;
    for (const CheckGroup* group : SequenceGroups()) {
        for (const CheckRow& row : group->rows) {
            SCOPED_TRACE(std::string(row.label));
            const std::wstring want = i % 4 == 3 ? L"" : L"row " + std::to_wstring(i);
            EXPECT_EQ(fake.board.Reason(row.label), want);
            ++i;
        }
    }
}

TEST(Form2LoadTest, RunsEveryStepOnceInOrder) {
    struct Case {
        const char* label;
        Contents contents;
    };
    const Case cases[] = {{"every marker passes", AllPass},
                          {"pass, fail and no change in turn", Mixed}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FakePlatform fake;
        Prepare(fake, c.contents);
        Form2 form(fake.platform, fake.board);

        form.Load();

        EXPECT_EQ(Significant(fake.log), ExpectedRun(c.contents));
        EXPECT_TRUE(fake.messages.shown.empty());
        EXPECT_EQ(fake.files.open_files, 0);
        EXPECT_EQ(fake.files.max_open_files, 1);
        EXPECT_EQ(fake.registry.open_keys, 0);
    }
}

TEST(Form2LoadTest, OsLineTakesTheServicePackOnlyForTheWordFail) {
    const Identity cases[] = {
        {"6.1.7601\r\n", "Windows 7 Professional 6.1.7601"},
        {"fail\r\n", "Windows 7 Professional Service Pack 1"},
        {"Fail\r\n", "Windows 7 Professional Fail"},
    };
    for (const Identity& identity : cases) {
        SCOPED_TRACE(identity.version_file);
        FakePlatform fake;
        Prepare(fake, AllPass, identity);
        Form2(fake.platform, fake.board).Load();

        EXPECT_EQ(Significant(fake.log), ExpectedRun(AllPass, identity));
        EXPECT_EQ(fake.board.Caption("os"), Widen(identity.expected_os));
    }
}

TEST(Form2LoadTest, MissingKeysAreReportedAndTheRunGoesOn) {
    FakePlatform fake;
    Prepare(fake, AllPass);
    fake.registry.DenyKey(kCurrentVersionKey, 2);
    Form2(fake.platform, fake.board).Load();

    // One key, two values: the message comes once per read.
    EXPECT_EQ(fake.messages.shown,
              (std::vector<std::wstring>{L"Error opening key.", L"Error opening key."}));
    EXPECT_EQ(fake.board.Caption("comname"), L"WKS-0042");
    EXPECT_EQ(fake.board.Caption("os"), L" 6.1.7601");
    EXPECT_EQ(fake.board.Caption("ptelmira"), L"Success") << "the last step still ran";
}

TEST(Form2LoadTest, MissingFileEndsTheRunAtOnce) {
    struct Case {
        std::string label;
        std::wstring path;
    };
    std::vector<Case> cases{{"OS-version file", Widen(kOsFile)}};
    for (const CheckGroup* group : SequenceGroups()) {
        cases.push_back({std::string(group->name) + " first row",
                         MarkerPath(group->rows.front())});
        cases.push_back({std::string(group->name) + " last row",
                         MarkerPath(group->rows.back())});
    }
    const EventLog complete = ExpectedRun(AllPass);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FakePlatform fake;
        Prepare(fake, AllPass);
        std::filesystem::remove(fake.files.Root() / FileName(c.path));
        Form2 form(fake.platform, fake.board);

        try {
            form.Load();
            ADD_FAILURE() << "Load returned";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code, win_error::kFileNotFound);
            EXPECT_EQ(failure.subject, c.path);
        }
        // Everything up to the failing open happened, and nothing after it.
        const auto failing =
            std::find(complete.begin(), complete.end(), "open " + Narrow(c.path));
        ASSERT_NE(failing, complete.end());
        EXPECT_EQ(Significant(fake.log),
                  Prefix(complete, static_cast<std::size_t>(failing - complete.begin()) + 1));
        EXPECT_EQ(fake.files.open_files, 0);
    }
}

TEST(Form2LoadTest, RefusedLabelWriteEndsTheRunAtOnce) {
    const char* const labels[] = {"comname", "os", "userteskquorin", "sam_install",
                                  "minitscript", "ptelmira"};
    const EventLog complete = ExpectedRun(AllPass);
    for (const char* label : labels) {
        SCOPED_TRACE(label);
        FakePlatform fake;
        Prepare(fake, AllPass);
        fake.board.RefuseWrites(label, win_error::kAccessDenied);

        try {
            Form2(fake.platform, fake.board).Load();
            ADD_FAILURE() << "Load returned";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code, win_error::kAccessDenied);
        }
        const auto first_write = std::find_if(complete.begin(), complete.end(), [&](auto& e) {
            return e.starts_with("color "s + label + " ") ||
                   e.starts_with("caption "s + label + " ");
        });
        ASSERT_NE(first_write, complete.end());
        EXPECT_EQ(Significant(fake.log),
                  Prefix(complete, static_cast<std::size_t>(first_write - complete.begin())));
    }
}

TEST(Form2UnloadTest, LaunchesTheCleanupScriptMinimizedAndLeavesCancelAlone) {
    for (const std::int16_t initial : {std::int16_t{0}, std::int16_t{1}, std::int16_t{-7}}) {
        SCOPED_TRACE(initial);
        FakePlatform fake;
        std::int16_t cancel = initial;

        Form2(fake.platform, fake.board).Unload(cancel);

        EXPECT_EQ(fake.log, EventLog{"launch C:\\tmptk\\rundelay.bat show=2"});
        EXPECT_EQ(cancel, initial);
    }
}

TEST(Form2UnloadTest, FailedLaunchNamesTheScript) {
    FakePlatform fake;
    fake.launcher.fail_with = win_error::kFileNotFound;
    std::int16_t cancel = 0;
    try {
        Form2(fake.platform, fake.board).Unload(cancel);
        ADD_FAILURE() << "Unload returned";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code, win_error::kFileNotFound);
        EXPECT_EQ(failure.subject, L"C:\\tmptk\\rundelay.bat");
    }
    EXPECT_EQ(fake.log, EventLog{"launch C:\\tmptk\\rundelay.bat show=2"});
    EXPECT_EQ(cancel, 0);
}

}  // namespace
}  // namespace qtk::testing
