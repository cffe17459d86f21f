// What the companion leaves in C:\tmptk\, read back the way the diagnostic reads it: each
// marker through the diagnostic's own reader and verdict rule, the OS-version file through
// its version-line reader. Also how the files are put in place when something fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <utility>
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

Verdict Intended(RowVerdict outcome) {
    switch (outcome) {
        case RowVerdict::Pass: return Verdict::Pass;
        case RowVerdict::Fail: return Verdict::Fail;
        case RowVerdict::Undecided: return Verdict::NoChange;
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
        {"a megabyte quoted from a registry value", std::wstring(1 << 20, L'x')},
        {"a megabyte of line ends", std::wstring(1 << 20, L'\n')},
    };
    for (const RowVerdict outcome : {RowVerdict::Pass, RowVerdict::Fail, RowVerdict::Undecided}) {
        for (const auto& reason : reasons) {
            SCOPED_TRACE(std::string(FirstField(outcome)) + " / " + reason.label);
            const std::string bytes = MarkerFileBytes(Finding{outcome, reason.reason, {}});

            // One line, CR LF at its end and nowhere else, single-byte printable text.
            ASSERT_GE(bytes.size(), 2u);
            EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
            const std::string line = bytes.substr(0, bytes.size() - 2);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
            // Bounded, and a cut reason says it was cut.
            EXPECT_LE(line.size(), FirstField(outcome).size() + 1 + kMaxReasonLength);
            if (reason.reason.size() > kMaxReasonLength) {
                EXPECT_EQ(line.substr(line.size() - kCutMark.size()), Narrow(kCutMark));
            }
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

// What the registry hands over is bounded before it reaches any marker: a huge policy
// value quoted in every row it matches, a REG_DWORD of the wrong size where a zone number
// or a switch should be.
TEST(MarkerLines, HostileRegistryValuesGiveBoundedCannotLookOrFail) {
    const std::wstring settings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    const std::wstring policy =
        L"Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    const struct {
        const char* label;
        std::function<void(testing::FakeRegistrySource&)> setup;
        const char* marker;
        RowVerdict verdict;
        const char* reason_has;
    } cases[] = {
        {"a megabyte of policy data for a site",
         [&](auto& r) {
             r.SetDword(Hive::CurrentUser, View::Native, policy, L"ListBox_Support_ZoneMapKey", 1);
             r.SetString(Hive::CurrentUser, View::Native, policy + L"\\ZoneMapKey",
                         L"https://tesk.qrn.example", std::wstring(1 << 20, L'9') + L"x");
         },
         "www_tesk.txt", RowVerdict::Fail, "no zone"},
        {"a three-byte zone number",
         [&](auto& r) {
             r.SetDwordOfSize(Hive::LocalMachine, View::Bits64,
                              settings + L"\\ZoneMap\\Domains\\qrn.example\\tesk", L"https", 3);
         },
         "mwww_tesk.txt", RowVerdict::Undecided, "impossible size"},
        {"a five-byte machine-only switch",
         [&](auto& r) {
             r.SetDwordOfSize(Hive::LocalMachine, View::Bits64, policy, L"Security_HKLM_only", 5);
         },
         "www_tesk.txt", RowVerdict::Undecided, "impossible size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testing::FakeRegistrySource registry;
        c.setup(registry);
        std::size_t total = 0;
        for (const CheckResult& result : ExamineWorkstation(registry)) {
            const std::string bytes = MarkerFileBytes(result);
            total += bytes.size();
            if (FileName(result.marker) != c.marker) continue;
            EXPECT_EQ(result.verdict, c.verdict) << bytes;
            EXPECT_NE(bytes.find(c.reason_has), std::string::npos) << bytes;
        }
        EXPECT_LT(total, 36u * 400u) << "the markers grew with the value";
    }
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
    const std::vector<CheckResult> results = ExamineWorkstation(registry);
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
    for (const CheckResult& result : ExamineWorkstation(empty)) {
        SCOPED_TRACE(Narrow(result.marker));
        EXPECT_EQ(result.verdict, RowVerdict::Fail);
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
    for (const CheckResult& result : ExamineWorkstation(locked)) {
        SCOPED_TRACE(Narrow(result.marker));
        EXPECT_EQ(result.verdict, RowVerdict::Undecided) << Narrow(result.reason);
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
    // Every file of the set, and whatever a run killed midway or a failed run left beside
    // them: the writer's names there all end in ".tmp".
    EXPECT_EQ(deleted.size(), plan.size() + 1);
    for (const OutputFile& file : plan) {
        EXPECT_EQ(deleted[Narrow(file.path)], 1) << Narrow(file.path);
    }
    EXPECT_EQ(deleted["C:\\tmptk\\*.tmp"], 1);
    const std::string temporary = Narrow(TemporaryPath(plan[1].path, L"0a1b"));
    EXPECT_EQ(temporary.substr(temporary.size() - 4), ".tmp");
    // Itself, last, and nothing after it that cmd would have to read from a deleted file.
    EXPECT_NE(lines.back().find("\"C:\\tmptk\\rundelay.bat\""), std::string::npos);
    EXPECT_NE(lines.back().find("& exit"), std::string::npos);
    EXPECT_EQ(lines.front(), "@echo off");
}

// ---------------------------------------------------------------- putting files in place

// Files under C:\tmptk\ in a real temporary directory, with Windows' rules where they
// differ from POSIX: a rename never replaces, a file held open without delete sharing can
// be neither renamed nor removed, and creating a file new fails on anything at the name.
class HostOutput : public OutputFiles {
public:
    explicit HostOutput(DirFileSystem& dir) : dir_(dir) {}

    struct Killed {};

    std::uint32_t WriteWhole(const std::wstring& path, std::string_view bytes) override {
        if (before_write) std::exchange(before_write, nullptr)(Host(path));
        std::error_code error;
        if (std::filesystem::symlink_status(Host(path), error).type() !=
            std::filesystem::file_type::not_found) {
            return file_error::kFileExists;
        }
        if (Fails("write", path)) {
            // A write that breaks off leaves part of the file behind.
            std::ofstream(Host(path), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
            return 112;  // disk full
        }
        std::ofstream out(Host(path), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return 0;
    }
    // "flush": every file is written, but the one at fail_path did not reach the disk,
    // which the real file system learns only once all of them are written.
    std::vector<std::uint32_t> WriteEach(const std::vector<NewFile>& files) override {
        if (fail_action != "flush") return OutputFiles::WriteEach(files);
        std::vector<std::uint32_t> codes;
        for (const NewFile& file : files) {
            codes.push_back(WriteWhole(file.path, file.bytes));
            if (codes.back() == 0 && Fails("flush", file.path)) codes.back() = 1117;  // I/O error
        }
        return codes;
    }
    std::uint32_t Rename(const std::wstring& from, const std::wstring& to) override {
        if (Held(from)) return file_error::kSharingViolation;
        if (fail_action == "rename" && to == fail_path) {
            fail_action.clear();  // once: putting the earlier file back works
            return 5;
        }
        std::error_code error;
        const auto kind = std::filesystem::symlink_status(Host(from), error).type();
        if (kind == std::filesystem::file_type::not_found) return file_error::kFileNotFound;
        if (kind == std::filesystem::file_type::directory) return file_error::kAccessDenied;
        if (std::filesystem::symlink_status(Host(to), error).type() !=
            std::filesystem::file_type::not_found) {
            return file_error::kAlreadyExists;
        }
        std::filesystem::rename(Host(from), Host(to), error);
        if (!error && FileName(to) == held_once_placed) held.insert(held_once_placed);
        return error ? 5 : 0;
    }
    std::uint32_t Remove(const std::wstring& path) override {
        if (Held(path)) return file_error::kSharingViolation;
        std::error_code error;
        std::filesystem::remove(Host(path), error);
        return 0;
    }
    std::uint32_t List(const std::wstring& directory, std::vector<std::wstring>* names) override {
        EXPECT_EQ(directory + L"\\", kTmptk);
        names->clear();
        for (const auto& entry : std::filesystem::directory_iterator(dir_.Root())) {
            const std::string name = entry.path().filename().string();
            names->push_back(std::wstring(name.begin(), name.end()));
        }
        return 0;
    }
    void Pause(unsigned) override {
        ++pauses;
        if (release_after_pauses > 0 && pauses >= release_after_pauses) held.clear();
    }
    void Checkpoint() override {
        if (++checkpoints == kill_at) throw Killed{};
    }

    // "write" or "flush": every write to a path starting so; "rename": once, to it
    std::string fail_action;
    std::wstring fail_path;
    std::function<void(const std::filesystem::path&)> before_write;  // once
    std::set<std::string> held;  // file names a reader holds open without delete sharing
    std::string held_once_placed;  // a reader opens this file as soon as it is in place
    int release_after_pauses = 0;
    int pauses = 0;
    int checkpoints = 0;
    int kill_at = 0;

private:
    bool Held(const std::wstring& path) const { return held.count(FileName(path)) != 0; }
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

// An earlier examination's set: every file of the plan, with other bytes.
std::vector<OutputFile> EarlierPlan(const std::vector<OutputFile>& plan) {
    std::vector<OutputFile> old = plan;
    for (OutputFile& file : old) file.bytes = "old " + file.bytes;
    return old;
}

// What the diagnostic would make of the directory: the whole earlier set, the whole new
// set, "refused" when the OS-version file it reads first is missing, or a mix.
std::string Reading(const DirFileSystem& dir, const std::vector<OutputFile>& old,
                    const std::vector<OutputFile>& plan) {
    const std::map<std::string, std::string> left = Contents(dir);
    if (left.count(FileName(plan.front().path)) == 0) return "refused";
    for (const auto* set : {&old, &plan}) {
        bool whole = true;
        for (const OutputFile& file : *set) {
            const auto found = left.find(FileName(file.path));
            whole = whole && found != left.end() && found->second == file.bytes;
        }
        if (whole) return set == &old ? "earlier" : "new";
    }
    return "mix";
}

// Names a run leaves beside the files, which no set includes.
std::vector<std::string> Leftovers(const DirFileSystem& dir) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : Contents(dir)) {
        if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp") names.push_back(name);
    }
    return names;
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
    const std::vector<CheckResult> results = ExamineWorkstation(registry);
    ASSERT_FALSE(WriteAll(output, PlanOutput(results, std::nullopt), L"7f").has_value());
    EXPECT_EQ(Contents(dir).size(), 38u);

    Latin1Codec codec;
    RecordingBoard board(log);
    std::map<std::wstring, RowVerdict> by_marker;
    for (const CheckResult& result : results) by_marker[result.marker] = result.verdict;
    for (const CheckGroup* group :
         {&Group(GroupId::TrustedSitesUser), &Group(GroupId::TrustedSitesMachine),
          &Group(GroupId::SoftwareInstall), &Group(GroupId::ZoneScriptingUser),
          &Group(GroupId::ZoneScriptingMachine), &Group(GroupId::PopupAllowedSites)}) {
        for (const CheckRow& row : group->rows) {
            SCOPED_TRACE(std::string(row.label));
            const std::wstring before = board.Caption(row.label);
            CheckMarkerFile(dir, codec, MarkerPath(row), board.Label(row.label),
                            group->words);
            const RowVerdict outcome = by_marker.at(MarkerPath(row));
            const std::wstring expected = outcome == RowVerdict::Pass     ? std::wstring(group->words.pass)
                                          : outcome == RowVerdict::Fail ? std::wstring(group->words.fail)
                                                                     : before;
            EXPECT_EQ(board.Caption(row.label), expected);
        }
    }
    EXPECT_EQ(board.Caption("mteskquorin"), L"Success");
    EXPECT_EQ(board.Caption("userteskquorin"), L"Fail");
    EXPECT_EQ(board.Caption("ptesk"), L"-");  // the user's pop-up list could not be read
}

// Whatever stops a run, with or without an earlier set: the earlier set stays whole (or,
// without one, nothing of the new set is left), and no temporary or backup remains.
TEST(WriteAll, AFailureKeepsTheEarlierSetWhole) {
    const std::vector<OutputFile> plan = SamplePlan();
    const std::vector<OutputFile> old = EarlierPlan(plan);
    const struct {
        const char* label;
        std::string action;
        std::wstring path;
        std::string held;  // held open by a reader for good
    } cases[] = {
        {"the first write", "write", L"C:\\tmptk\\outwinversion.txt", ""},
        {"a write midway", "write", L"C:\\tmptk\\a_script.txt", ""},
        {"the last write", "write", L"C:\\tmptk\\rundelay.bat", ""},
        {"a flush midway, found once every file is written", "flush",
         L"C:\\tmptk\\a_script.txt", ""},
        {"the first marker's rename", "rename", L"C:\\tmptk\\www_tesk.txt", ""},
        {"a rename midway", "rename", L"C:\\tmptk\\mwww_telmira.txt", ""},
        {"the clean-up script's rename", "rename", L"C:\\tmptk\\rundelay.bat", ""},
        {"the OS-version file's rename, last of all", "rename",
         L"C:\\tmptk\\outwinversion.txt", ""},
        {"moving the earlier OS-version file aside, first of all", "rename",
         L"C:\\tmptk\\outwinversion.txt.42ab.old.tmp", ""},
        {"moving an earlier marker aside", "rename", L"C:\\tmptk\\pwww_kessor.txt.42ab.old.tmp", ""},
        {"a marker held open", "", L"", "mwww_telmira.txt"},
        {"the OS-version file held open", "", L"", "outwinversion.txt"},
        {"the clean-up script held open", "", L"", "rundelay.bat"},
    };
    for (const bool with_earlier : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.label) + (with_earlier ? "" : ", no earlier set"));
            EventLog log;
            DirFileSystem dir(log);
            if (with_earlier) {
                for (const OutputFile& file : old) dir.Write(FileName(file.path), file.bytes);
            } else if (!c.held.empty()) {
                continue;
            }
            dir.Write("unrelated.txt", "keep");
            HostOutput output(dir);
            output.fail_action = c.action;
            output.fail_path = c.path;
            if (!c.held.empty()) output.held.insert(c.held);

            const std::optional<Failure> failure = WriteAll(output, plan, L"42ab");
            ASSERT_TRUE(failure.has_value());
            EXPECT_NE(failure->code, 0u);
            std::wstring named = c.held.empty() ? c.path : kTmptk + std::wstring(c.held.begin(), c.held.end());
            if (const std::size_t tag = named.find(L".42ab.old"); tag != std::wstring::npos) {
                named.resize(tag);
            }
            if (!with_earlier && c.action == "rename" && named != c.path) continue;
            EXPECT_EQ(failure->subject.rfind(named, 0), 0u)
                << "the failure names its file: " << Narrow(failure->subject);
            if (!c.held.empty()) {
                EXPECT_EQ(failure->code, file_error::kSharingViolation);
                EXPECT_EQ(output.pauses, kSharingRetries) << "retried briefly, then gave up";
            }

            EXPECT_EQ(Contents(dir).at("unrelated.txt"), "keep");
            EXPECT_EQ(Leftovers(dir), std::vector<std::string>{});
            if (with_earlier) {
                EXPECT_EQ(Reading(dir, old, plan), "earlier");
            } else {
                EXPECT_EQ(Contents(dir).size(), 1u) << "a part of the new set was left";
            }
        }
    }
}

TEST(WriteAll, SuccessReplacesEveryFileWhole) {
    const std::vector<OutputFile> plan = SamplePlan();
    for (const bool with_earlier : {true, false}) {
        SCOPED_TRACE(with_earlier ? "over an earlier set" : "into an empty directory");
        EventLog log;
        DirFileSystem dir(log);
        if (with_earlier) {
            for (const OutputFile& file : EarlierPlan(plan)) dir.Write(FileName(file.path), file.bytes);
        }
        HostOutput output(dir);
        ASSERT_FALSE(WriteAll(output, plan, L"42ab").has_value());
        EXPECT_EQ(Reading(dir, EarlierPlan(plan), plan), "new");
        EXPECT_EQ(Contents(dir).size(), plan.size());
    }
}

// A roll-back that cannot finish (a reader opened a new file the moment it was in place)
// leaves the OS-version file aside: the set is refused rather than painted as a mix, and
// the next run, once the reader has let go, puts the earlier set back.
TEST(WriteAll, ARollBackThatCannotFinishLeavesTheSetRefused) {
    const std::vector<OutputFile> plan = SamplePlan();
    const std::vector<OutputFile> old = EarlierPlan(plan);
    EventLog log;
    DirFileSystem dir(log);
    for (const OutputFile& file : old) dir.Write(FileName(file.path), file.bytes);
    HostOutput output(dir);
    output.fail_action = "rename";
    output.fail_path = L"C:\\tmptk\\rundelay.bat";
    output.held_once_placed = "www_tesk.txt";
    const std::optional<Failure> failure = WriteAll(output, plan, L"42ab");
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->subject, L"C:\\tmptk\\rundelay.bat");
    EXPECT_EQ(Reading(dir, old, plan), "refused");

    HostOutput next(dir);
    RepairAndSweep(next, plan);
    EXPECT_EQ(Reading(dir, old, plan), "earlier");
    EXPECT_EQ(Leftovers(dir), std::vector<std::string>{});
}

// A reader that lets go within the retries does not stop the run.
TEST(WriteAll, ASharingViolationThatPassesIsWaitedOut) {
    const std::vector<OutputFile> plan = SamplePlan();
    for (const char* held : {"outwinversion.txt", "www_tesk.txt", "rundelay.bat"}) {
        SCOPED_TRACE(held);
        EventLog log;
        DirFileSystem dir(log);
        for (const OutputFile& file : EarlierPlan(plan)) dir.Write(FileName(file.path), file.bytes);
        HostOutput output(dir);
        output.held.insert(held);
        output.release_after_pauses = 3;
        ASSERT_FALSE(WriteAll(output, plan, L"42ab").has_value());
        EXPECT_EQ(output.pauses, 3);
        EXPECT_EQ(Reading(dir, EarlierPlan(plan), plan), "new");
        EXPECT_EQ(Leftovers(dir), std::vector<std::string>{});
    }
}

// A run killed at any point leaves a set the diagnostic paints whole or refuses, never a
// mix; the next run puts the earlier set back before anything else, and then writes its
// own.
TEST(WriteAll, AKillAnywhereLeavesNoMixAndTheNextRunRepairs) {
    const std::vector<OutputFile> plan = SamplePlan();
    const std::vector<OutputFile> old = EarlierPlan(plan);
    int points = 0;
    {
        EventLog log;
        DirFileSystem dir(log);
        for (const OutputFile& file : old) dir.Write(FileName(file.path), file.bytes);
        HostOutput counting(dir);
        ASSERT_FALSE(WriteAll(counting, plan, L"1").has_value());
        points = counting.checkpoints;
    }
    ASSERT_GT(points, 2 * static_cast<int>(plan.size()));
    for (const bool with_earlier : {true, false}) {
        // Every point at the ends, where the seal moves; in the middle, where each file is
        // moved aside and then replaced alike, both kinds of point every few files.
        for (int kill_at = 1; kill_at <= points;
             kill_at += kill_at < 6 || kill_at > points - 6 ? 1 : 9) {
            SCOPED_TRACE("killed at checkpoint " + std::to_string(kill_at) +
                         (with_earlier ? "" : ", no earlier set"));
            EventLog log;
            DirFileSystem dir(log);
            if (with_earlier) {
                for (const OutputFile& file : old) dir.Write(FileName(file.path), file.bytes);
            }
            HostOutput killed(dir);
            killed.kill_at = kill_at;
            try {
                WriteAll(killed, plan, L"dead1");
                // Without an earlier set there is less to move aside: fewer points.
                ASSERT_FALSE(with_earlier);
                continue;
            } catch (const HostOutput::Killed&) {
            }
            const std::string after_kill = Reading(dir, old, plan);
            EXPECT_NE(after_kill, "mix");
            if (!with_earlier) {
                EXPECT_NE(after_kill, "earlier");
            }

            HostOutput next(dir);
            RepairAndSweep(next, plan);
            EXPECT_EQ(Leftovers(dir), std::vector<std::string>{});
            const std::string repaired = Reading(dir, old, plan);
            if (after_kill != "refused") {
                EXPECT_EQ(repaired, after_kill);
            } else if (with_earlier) {
                EXPECT_EQ(repaired, "earlier") << "the earlier set was not put back";
            } else {
                EXPECT_EQ(repaired, "refused");
            }

            HostOutput again(dir);
            ASSERT_FALSE(WriteAll(again, plan, L"live2").has_value());
            EXPECT_EQ(Reading(dir, old, plan), "new");
            EXPECT_EQ(Contents(dir).size(), plan.size());
        }
    }
}

// Anything planted at a name the writer uses beside a file (a link to a file elsewhere,
// say) is never written through; stale names of earlier runs are swept, and removing a
// link there removes the link, not what it points at.
TEST(WriteAll, WhatIsPlantedBesideTheFilesIsNeverWrittenThrough) {
    const std::vector<OutputFile> plan = SamplePlan();
    const std::vector<OutputFile> old = EarlierPlan(plan);
    EventLog log;
    DirFileSystem dir(log);
    for (const OutputFile& file : old) dir.Write(FileName(file.path), file.bytes);
    const std::filesystem::path outside = dir.Root().parent_path() /
                                          (dir.Root().filename().string() + "-outside.txt");
    const auto outside_text = [&] {
        std::ifstream in(outside);
        std::string text;
        std::getline(in, text);
        return text;
    };
    std::ofstream(outside) << "precious";
    // Planted at the name the run is about to create, after its sweep.
    HostOutput output(dir);
    output.before_write = [&](const std::filesystem::path& at) {
        std::filesystem::create_symlink(outside, at);
    };
    const std::optional<Failure> failure = WriteAll(output, plan, L"abc");
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->code, file_error::kFileExists);
    EXPECT_EQ(outside_text(), "precious");
    EXPECT_EQ(Reading(dir, old, plan), "earlier");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Root() / "outwinversion.txt.abc.tmp"))
        << "what was planted is no file of this run's to remove";

    // Links and files left at the names of earlier runs, whatever their tag.
    for (const char* stale : {"www_tesk.txt.1234.tmp", "rundelay.bat.9f0e.tmp",
                              "outwinversion.txt.77.old.tmp", "mwww_telmira.txt.77.none.tmp"}) {
        std::filesystem::create_symlink(outside, dir.Root() / stale);
    }
    dir.Write("notes.tmp", "not ours");
    HostOutput next(dir);
    ASSERT_FALSE(WriteAll(next, plan, L"def").has_value());
    EXPECT_EQ(Reading(dir, old, plan), "new");
    EXPECT_EQ(Leftovers(dir), std::vector<std::string>{"notes.tmp"});
    EXPECT_EQ(outside_text(), "precious");
    std::filesystem::remove(outside);
}

}  // namespace
}  // namespace qtk::companion
