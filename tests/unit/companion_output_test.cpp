// What the companion leaves in C:\tmptk\, read back the way the diagnostic reads it: each
// marker through the diagnostic's own reader and verdict rule, the OS-version file through
// its version-line reader. Also how the files are put in place when something fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "checks/marker.h"
#include "checks/tables.h"
#include "companion/examination.h"
#include "companion/finding.h"
#include "companion/output_writer.h"
#include "fake_registry.h"
#include "fakes.h"
#include "identity/os_line.h"

namespace qtk::companion {
namespace {

using qtk::testing::DirFileSystem;
using qtk::testing::EventLog;
using qtk::testing::Latin1Codec;
using qtk::testing::Narrow;
using qtk::testing::RecordingBoard;

const std::wstring kTmptk = L"C:\\tmptk\\";

Verdict Intended(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok: return Verdict::Pass;
        case Outcome::Fail: return Verdict::Fail;
        case Outcome::CannotLook: return Verdict::NoChange;
    }
    return Verdict::Fail;
}

std::string FileName(std::wstring_view path) {
    EXPECT_EQ(path.substr(0, kTmptk.size()), kTmptk);
    return Narrow(path.substr(kTmptk.size()));
}

// Every line the companion can write, read back from a real file by the diagnostic's
// reader, gets the verdict its outcome stands for, whatever the reason holds.
TEST(MarkerLines, EveryLineGetsTheIntendedVerdict) {
    const struct {
        const char* label;
        std::wstring reason;
    } reasons[] = {
        {"no reason", L""},
        {"plain", L"https://tesk.qrn.example is in the Trusted sites zone"},
        {"reason starting with ok", L"ok all the same"},
        {"reason in quotes", L"\"ok\""},
        {"commas", L"a, b, ok"},
        {"line ends", L"first\r\nok second\nok third\rok"},
        {"a tab and control characters", L"a\tb\x01" L"c"},
        {"non-ASCII", L"caf\u00e9 \u0e01 ok"},
        {"leading blanks", L"   ok"},
    };
    for (const Outcome outcome : {Outcome::Ok, Outcome::Fail, Outcome::CannotLook}) {
        for (const auto& reason : reasons) {
            SCOPED_TRACE(std::string(FirstField(outcome)) + " / " + reason.label);
            const std::string bytes = MarkerFileBytes(Finding{outcome, reason.reason, {}});

            // One line, CR LF at its end and nowhere else, single-byte printable text.
            ASSERT_GE(bytes.size(), 2u);
            EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
            const std::string line = bytes.substr(0, bytes.size() - 2);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
            for (const char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << int(c);

            EventLog log;
            DirFileSystem files(log);
            Latin1Codec codec;
            files.Write("marker.txt", bytes);
            const MarkerField field = ReadMarkerField(files, codec, kTmptk + L"marker.txt");
            EXPECT_EQ(DecideVerdict(field), Intended(outcome));
            EXPECT_EQ(DecideVerdict(field.head), Intended(outcome));
            EXPECT_EQ(Narrow(field.head), std::string(FirstField(outcome)));
        }
    }
}

TEST(MarkerLines, CannotLookCarriesTheErrorAndThePlace) {
    const KeyPlace place{Hive::LocalMachine, View::Bits32, L"Software\\X"};
    const Finding finding = CannotLook(5, place, L"DisplayName");
    EXPECT_EQ(finding.outcome, Outcome::CannotLook);
    EXPECT_EQ(MarkerFileBytes(finding),
              "cannot look,access denied (error 5) reading HKLM\\Software\\X (32-bit view) "
              "value DisplayName\r\n");
}

// ---------------------------------------------------------------- OS-version file

TEST(VersionFile, ReadsBackAsTheDiagnosticShowsIt) {
    const struct {
        const char* label;
        std::optional<OsVersion> version;
        const wchar_t* line;
    } cases[] = {
        {"with the update revision", OsVersion{10, 0, 19045, 4291}, L"Version 10.0.19045.4291"},
        {"without it", OsVersion{6, 1, 7601, std::nullopt}, L"Version 6.1.7601"},
        {"revision zero is still a number", OsVersion{10, 0, 22631, 0}, L"Version 10.0.22631.0"},
        {"undetermined", std::nullopt, L"fail"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EventLog log;
        DirFileSystem files(log);
        Latin1Codec codec;
        const std::string bytes = VersionFileBytes(c.version);
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
        files.Write("outwinversion.txt", bytes);
        const std::wstring line =
            ReadVersionLine(files, codec, InMarkerDirectory(kOsVersionFileName));
        EXPECT_EQ(line, c.line);
        // Only the undetermined version may select the service-pack text.
        EXPECT_EQ(ComposeOsLine(L"Windows", L"SP", line) == L"Windows SP", !c.version.has_value());
    }
}

TEST(VersionFile, UpdateRevisionComesFromTheRegistryWhenPresent) {
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    testing::FakeRegistrySource with;
    with.SetDword(Hive::LocalMachine, View::Bits64, key, L"UBR", 4291);
    EXPECT_EQ(ReadUpdateRevision(with), std::optional<std::uint32_t>(4291));

    testing::FakeRegistrySource without;
    without.AddKey(Hive::LocalMachine, View::Bits64, key);
    EXPECT_EQ(ReadUpdateRevision(without), std::nullopt);

    testing::FakeRegistrySource denied;
    denied.SetDword(Hive::LocalMachine, View::Bits64, key, L"UBR", 4291);
    denied.DenyOpen(Hive::LocalMachine, View::Bits64, key);
    EXPECT_EQ(ReadUpdateRevision(denied), std::nullopt);

    testing::FakeRegistrySource odd;
    odd.SetString(Hive::LocalMachine, View::Bits64, key, L"UBR", L"4291");
    EXPECT_EQ(ReadUpdateRevision(odd), std::nullopt);
}

// ---------------------------------------------------------------- the plan

std::vector<std::wstring> TableMarkers() {
    std::vector<std::wstring> markers;
    for (const CheckGroup* group :
         {&Group(GroupId::TrustedSitesUser), &Group(GroupId::TrustedSitesMachine),
          &Group(GroupId::SoftwareInstall), &Group(GroupId::ZoneScriptingUser),
          &Group(GroupId::ZoneScriptingMachine), &Group(GroupId::PopupAllowedSites)}) {
        for (const CheckRow& row : group->rows) markers.push_back(MarkerPath(row));
    }
    return markers;
}

TEST(Plan, WritesEveryMarkerOfTheTablesInCheckOrder) {
    testing::FakeRegistrySource registry;
    const std::vector<MarkerResult> results = ExamineWorkstation(registry);
    const std::vector<std::wstring> markers = TableMarkers();
    ASSERT_EQ(markers.size(), 36u);
    const std::vector<OutputFile> plan = PlanOutput(results, OsVersion{10, 0, 19045, 1});
    ASSERT_EQ(plan.size(), 38u);
    EXPECT_EQ(plan.front().path, L"C:\\tmptk\\outwinversion.txt");
    EXPECT_EQ(plan.back().path, L"C:\\tmptk\\rundelay.bat");
    std::set<std::wstring> unique;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        unique.insert(FoldCase(plan[i].path));
        if (i >= 1 && i <= 36) {
            EXPECT_EQ(plan[i].path, markers[i - 1]);
        }
    }
    EXPECT_EQ(unique.size(), plan.size()) << "two files share a name";
}

TEST(Plan, NothingConfiguredFailsEveryRowAndNothingReadableLeavesEveryRowAlone) {
    testing::FakeRegistrySource empty;
    for (const MarkerResult& result : ExamineWorkstation(empty)) {
        SCOPED_TRACE(Narrow(result.marker));
        EXPECT_EQ(result.finding.outcome, Outcome::Fail);
    }
    // Every key the examination could need refuses to open.
    testing::FakeRegistrySource locked;
    for (const Hive hive : {Hive::CurrentUser, Hive::LocalMachine}) {
        for (const View view : {View::Native, View::Bits32}) {
            for (const wchar_t* path :
                 {L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap",
                  L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2",
                  L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                  L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2",
                  L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMapKey",
                  L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                  L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow",
                  L"Software\\Policies\\Microsoft\\Internet Explorer\\New Windows\\Allow"}) {
                locked.DenyOpen(hive, view, path);
            }
        }
    }
    for (const MarkerResult& result : ExamineWorkstation(locked)) {
        SCOPED_TRACE(Narrow(result.marker));
        EXPECT_EQ(result.finding.outcome, Outcome::CannotLook) << Narrow(result.finding.reason);
    }
    EXPECT_EQ(locked.open_handles, 0);
}

TEST(CleanupScript, RemovesEveryOtherFileThenItself) {
    testing::FakeRegistrySource registry;
    const std::vector<OutputFile> plan = PlanOutput(ExamineWorkstation(registry), std::nullopt);
    const std::string script = plan.back().bytes;

    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < script.size()) {
        const std::size_t end = script.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "a line without CR LF";
        lines.push_back(script.substr(start, end - start));
        start = end + 2;
    }
    for (const char c : script) EXPECT_TRUE(c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7F));
    for (const std::string& line : lines) EXPECT_EQ(line.find('\n'), std::string::npos);

    std::map<std::string, int> deleted;
    std::size_t first_delete = lines.size(), delay = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("ping ", 0) == 0 && delay == lines.size()) delay = i;
        if (lines[i].rfind("del ", 0) != 0) continue;
        if (first_delete == lines.size()) first_delete = i;
        const std::size_t open = lines[i].find('"');
        const std::size_t close = lines[i].find('"', open + 1);
        ASSERT_NE(close, std::string::npos);
        ++deleted[lines[i].substr(open + 1, close - open - 1)];
    }
    EXPECT_LT(delay, first_delete) << "the pause must come before the first deletion";
    EXPECT_EQ(deleted.size(), plan.size());
    for (const OutputFile& file : plan) {
        EXPECT_EQ(deleted[Narrow(file.path)], 1) << Narrow(file.path);
    }
    // Itself, last, and nothing after it that cmd would have to read from a deleted file.
    EXPECT_NE(lines.back().find("\"C:\\tmptk\\rundelay.bat\""), std::string::npos);
    EXPECT_NE(lines.back().find("& exit"), std::string::npos);
    EXPECT_EQ(lines.front(), "@echo off");
}

// ---------------------------------------------------------------- putting files in place

// Files under C:\tmptk\ in a real temporary directory, with one call made to fail.
class HostOutput : public OutputFiles {
public:
    explicit HostOutput(DirFileSystem& dir) : dir_(dir) {}

    std::uint32_t WriteWhole(const std::wstring& path, std::string_view bytes) override {
        if (Fails("write", path)) {
            // A write that breaks off leaves part of the file behind.
            std::ofstream(Host(path), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
            return 112;  // disk full
        }
        std::ofstream out(Host(path), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return 0;
    }
    std::uint32_t Replace(const std::wstring& from, const std::wstring& to) override {
        if (Fails("replace", to)) return 5;
        std::error_code error;
        std::filesystem::rename(Host(from), Host(to), error);
        return error ? 2 : 0;
    }
    std::uint32_t Remove(const std::wstring& path) override {
        std::error_code error;
        std::filesystem::remove(Host(path), error);
        return 0;
    }

    std::string fail_action;
    std::wstring fail_path;

private:
    bool Fails(const std::string& action, const std::wstring& path) const {
        return action == fail_action && path.rfind(fail_path, 0) == 0 && !fail_path.empty();
    }
    std::filesystem::path Host(const std::wstring& path) const {
        return dir_.Root() / FileName(path);
    }
    DirFileSystem& dir_;
};

std::map<std::string, std::string> Contents(const DirFileSystem& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Root())) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        files[entry.path().filename().string()] = bytes.str();
    }
    return files;
}

std::vector<OutputFile> SamplePlan() {
    testing::FakeRegistrySource registry;
    registry.SetDword(Hive::LocalMachine, View::Bits64,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\"
                      L"Domains\\qrn.example\\tesk",
                      L"https", 2);
    registry.DenyOpen(Hive::CurrentUser, View::Native,
                      L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow");
    return PlanOutput(ExamineWorkstation(registry), OsVersion{10, 0, 19045, 4291});
}

// The whole road: examine, write, and let the diagnostic's own check paint each row from
// what was written.
TEST(WriteAll, TheDiagnosticPaintsWhatWasFound) {
    EventLog log;
    DirFileSystem dir(log);
    HostOutput output(dir);
    testing::FakeRegistrySource registry;
    registry.SetDword(Hive::LocalMachine, View::Bits64,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\"
                      L"Domains\\qrn.example\\tesk",
                      L"https", 2);
    registry.DenyOpen(Hive::CurrentUser, View::Native,
                      L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow");
    const std::vector<MarkerResult> results = ExamineWorkstation(registry);
    ASSERT_FALSE(WriteAll(output, PlanOutput(results, std::nullopt), 7).has_value());
    EXPECT_EQ(Contents(dir).size(), 38u);

    Latin1Codec codec;
    RecordingBoard board(log);
    std::map<std::wstring, Outcome> by_marker;
    for (const MarkerResult& result : results) by_marker[result.marker] = result.finding.outcome;
    for (const CheckGroup* group :
         {&Group(GroupId::TrustedSitesUser), &Group(GroupId::TrustedSitesMachine),
          &Group(GroupId::SoftwareInstall), &Group(GroupId::ZoneScriptingUser),
          &Group(GroupId::ZoneScriptingMachine), &Group(GroupId::PopupAllowedSites)}) {
        for (const CheckRow& row : group->rows) {
            SCOPED_TRACE(std::string(row.label));
            const std::wstring before = board.Caption(row.label);
            CheckMarkerFile(dir, codec, MarkerPath(row), board.Label(row.label),
                            group->words);
            const Outcome outcome = by_marker.at(MarkerPath(row));
            const std::wstring expected = outcome == Outcome::Ok     ? std::wstring(group->words.pass)
                                          : outcome == Outcome::Fail ? std::wstring(group->words.fail)
                                                                     : before;
            EXPECT_EQ(board.Caption(row.label), expected);
        }
    }
    EXPECT_EQ(board.Caption("mteskquorin"), L"Success");
    EXPECT_EQ(board.Caption("userteskquorin"), L"Fail");
    EXPECT_EQ(board.Caption("ptesk"), L"-");  // the user's pop-up list could not be read
}

TEST(WriteAll, AFailureLeavesNoHalfWrittenFileAndNoMix) {
    const std::vector<OutputFile> plan = SamplePlan();
    testing::FakeRegistrySource earlier;
    const std::vector<OutputFile> old = PlanOutput(ExamineWorkstation(earlier), std::nullopt);
    const struct {
        const char* label;
        std::string action;
        std::wstring path;
        bool old_files_kept;  // else: none of the set is left
    } cases[] = {
        {"the first write", "write", L"C:\\tmptk\\outwinversion.txt", true},
        {"a write midway", "write", L"C:\\tmptk\\a_script.txt", true},
        {"the last write", "write", L"C:\\tmptk\\rundelay.bat", true},
        {"the first replace", "replace", L"C:\\tmptk\\outwinversion.txt", false},
        {"a replace midway", "replace", L"C:\\tmptk\\mwww_telmira.txt", false},
        {"the last replace", "replace", L"C:\\tmptk\\rundelay.bat", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EventLog log;
        DirFileSystem dir(log);
        for (const OutputFile& file : old) dir.Write(FileName(file.path), "old " + file.bytes);
        dir.Write("unrelated.txt", "keep");
        HostOutput output(dir);
        output.fail_action = c.action;
        output.fail_path = c.path;

        const std::optional<Failure> failure = WriteAll(output, plan, 42);
        ASSERT_TRUE(failure.has_value());
        EXPECT_NE(failure->code, 0u);
        EXPECT_EQ(failure->subject.rfind(c.path, 0), 0u) << "the failure names its file";

        const std::map<std::string, std::string> left = Contents(dir);
        EXPECT_EQ(left.at("unrelated.txt"), "keep");
        for (const auto& [name, bytes] : left) {
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << "temporary file left: " << name;
        }
        for (const OutputFile& file : old) {
            const auto found = left.find(FileName(file.path));
            if (c.old_files_kept) {
                ASSERT_NE(found, left.end()) << FileName(file.path);
                EXPECT_EQ(found->second, "old " + file.bytes);
            } else {
                EXPECT_EQ(found, left.end()) << "left from a mixed set: " << FileName(file.path);
            }
        }
    }
}

TEST(WriteAll, SuccessReplacesEveryFileWhole) {
    const std::vector<OutputFile> plan = SamplePlan();
    EventLog log;
    DirFileSystem dir(log);
    for (const OutputFile& file : plan) dir.Write(FileName(file.path), "old and longer " + file.bytes);
    HostOutput output(dir);
    ASSERT_FALSE(WriteAll(output, plan, 42).has_value());
    const std::map<std::string, std::string> left = Contents(dir);
    EXPECT_EQ(left.size(), plan.size());
    for (const OutputFile& file : plan) EXPECT_EQ(left.at(FileName(file.path)), file.bytes);
}

}  // namespace
}  // namespace qtk::companion
