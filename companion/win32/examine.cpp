#include "companion/win32/examine.h"

#include <windows.h>

#include <algorithm>
#include <optional>

#include "checks/contract.h"
#include "companion/ie_mode.h"
#include "companion/check_rows.h"
#include "companion/cli.h"
#include "companion/detection.h"
#include "companion/examination.h"
#include "companion/fix_plan.h"
#include "companion/output_writer.h"
#include "companion/report_json.h"
#include "companion/run_context.h"
#include "companion/summary.h"
#include "companion/token_readiness.h"
#include "companion/win32/ie11_feature.h"
#include "companion/win32/secure_directory.h"
#include "companion/win32/site_list_fetch.h"
#include "companion/win32/win32_console.h"
#include "companion/win32/win32_output.h"
#include "companion/win32/win32_registry.h"
#include "companion/win32/win32_token.h"
#include "companion/win32/win32_user.h"
#include "companion/win32/win32_user_hive.h"
#include "companion/user_fix.h"
#include "companion/win32/xml_site_list.h"
#include "companion/win32/zone_mapper.h"
#include "platform/win32/program.h"
#include "platform/win32/system_library.h"
#include "platform/win32/win32_platform.h"

#ifndef QTK_VERSION
#error "QTK_VERSION comes from the project's version in CMake"
#endif

namespace qtk::companion::win32 {
namespace {

constexpr wchar_t kVersion[] = L"" QTK_VERSION;

// The version the system really runs: RtlGetVersion is not subject to the compatibility
// shims that make GetVersionEx report an older Windows to an unmanifested program.
std::optional<OsVersion> QueryOsVersion(RegistrySource& registry) {
    using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    const auto get_version = qtk::win32::FindExport<RtlGetVersionFn>(
        GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    if (get_version == nullptr) return std::nullopt;
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (get_version(&info) != 0 || info.dwMajorVersion == 0) return std::nullopt;
    return OsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                     ReadUpdateRevision(registry)};
}

std::wstring VersionText(const std::optional<OsVersion>& version) {
    if (!version) return {};
    std::wstring text = std::to_wstring(version->major) + L"." + std::to_wstring(version->minor) +
                        L"." + std::to_wstring(version->build);
    if (version->update_revision) text += L"." + std::to_wstring(*version->update_revision);
    return text;
}

std::string NowUtc() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return IsoUtc(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds);
}

// "Cannot write the file: C:\tmptk\x.txt (error 5: Access is denied.)"
std::wstring ErrorText(const ReportError& error) {
    std::wstring text = error.failure.action;
    if (!error.failure.subject.empty()) text += L": " + error.failure.subject;
    return text + L" (error " + std::to_wstring(error.failure.code) + L": " + error.description + L")";
}

void PrintError(const ReportError& error) {
    WriteText(STD_ERROR_HANDLE, L"tkexamine: " + ErrorText(error) + L"\n");
}

// A detection script's whole output: its one line on the standard output, nothing on the
// standard error (which the management system would count against the script).
int PrintDetection(const Detection& detection) {
    WriteText(STD_OUTPUT_HANDLE, detection.line + L"\n");
    return detection.ExitCode();
}

bool Skipped(const Options& options, std::string_view group) {
    return std::find(options.skip.begin(), options.skip.end(), group) != options.skip.end();
}

ReportError Describe(const Failure& failure) {
    return ReportError{failure, qtk::win32::DescribeError(failure.code)};
}

struct Examined {
    std::vector<CheckResult> rows;
    std::optional<ReportError> error;
    std::wstring fix_plan;  // with --what-if: what a fix would change
};

// The examination and, unless only a report is wanted, the markers. A failure to write
// them still leaves the rows for the report.
Examined Examine(const Options& options, RunFacts& facts) {
    Examined result;
    // Refuse an unsafe directory before spending any time on the examination.
    std::optional<RunLock> lock;
    std::optional<SecureDirectory> directory;
    if (!options.report_only) {
        try {
            // Taken before the directory is touched: a second examination waits for the
            // first to end, or refuses, rather than replacing files under it.
            lock.emplace(10000);
            directory.emplace(std::wstring(kMarkerDirectoryPath));
        } catch (const Failure& failure) {
            result.error = Describe(failure);
        }
    }
    const UserChoice& user = facts.user;
    Win32RegistrySource system(user.user.is_process_user ? std::wstring() : user.user.sid);
    Win32ZoneMapper zones;
    Win32SiteListFetcher fetcher;
    XmlLiteSiteListParser parser;
    Win32Ie11Feature ie11;
    Win32TokenSystem token;
    ExaminationSeams seams{&zones, nullptr, nullptr, nullptr};
    if (!Skipped(options, kIeModeGroup)) {
        seams.fetcher = &fetcher;
        seams.parser = &parser;
        seams.ie11 = &ie11;
    }
    if (!Skipped(options, kTokenGroup)) seams.token = &token;
    result.rows = qtk::companion::Examine(system, user, seams);
    if (options.what_if) {
        // The plan reads the user's values as the examination did, and nobody's when
        // nobody is there.
        ExaminedUserRegistry examined(system, user.user.logged_on);
        const FixPlan plan = PlanFix(result.rows, examined);
        // What would change is read as the fix reads it, so that both say the same.
        UndoRecord record;
        if (user.user.logged_on) {
            Win32UserHive hive(user.user.is_process_user ? std::wstring() : user.user.sid);
            if (const std::optional<Failure> unreadable = RecordUndo(plan, hive, &record)) {
                throw *unreadable;
            }
        }
        result.fix_plan = FixPlanText(plan, record, UserPlaceRoot(user));
    }
    const std::optional<OsVersion> version = QueryOsVersion(system);
    facts.os_version = VersionText(version);
    if (directory && !result.error) {
        Win32OutputFiles files;
        if (const std::optional<Failure> failure =
                WriteAll(files, PlanOutput(result.rows, version), RandomTag())) {
            result.error = Describe(*failure);
        } else {
            facts.markers_written = true;
        }
    }
    return result;
}

RunFacts StartFacts(const Options& options) {
    RunFacts facts;
    facts.tool_version = kVersion;
    facts.started_utc = NowUtc();
    facts.report_only = options.report_only;
    facts.skipped_groups = options.skip;
    facts.computer_name = ComputerName();
    facts.elevated = ProcessIsElevated();
    facts.session_id = ProcessSession();
    Win32Sessions sessions;
    facts.user = ChooseUser(sessions, options.user_sid);
    return facts;
}

// The report into the file --json=PATH names (in a folder, as <COMPUTERNAME>.json); why
// it could not be written.
std::optional<Failure> WriteReportFile(const Options& options, const RunFacts& facts,
                                       const Examined& examined, int code) {
    const std::wstring path = IsFolder(options.json_path)
                                  ? ReportFileInFolder(options.json_path, facts.computer_name)
                                  : options.json_path;
    return ReplaceFileWhole(path, ReportJson(examined.rows, facts, code, examined.error));
}

// The examination that closes a fix or an undo: the markers rewritten (unless only a
// report is wanted), the summary, the report; its exit code unless something failed.
int CloseWith(const Options& options, RunFacts& facts, ULONGLONG started, Examined* after,
              bool failed) {
    try {
        *after = Examine(options, facts);
    } catch (const Failure& failure) {
        after->error = Describe(failure);
    }
    facts.duration_seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    if (after->error) PrintError(*after->error);
    int code = failed || after->error ? exit_code::kCouldNotComplete : ExitCodeFor(after->rows);
    if (options.json == Options::Json::Path) {
        if (const std::optional<Failure> failure = WriteReportFile(options, facts, *after, code)) {
            PrintError(Describe(*failure));
            code = exit_code::kCouldNotComplete;
        }
    }
    if (!options.quiet) WriteText(STD_OUTPUT_HANDLE, SummaryText(after->rows, facts));
    return code;
}

// --fix: the examination, the plan, the undo file (written and flushed before the first
// value changes), the values, and the examination again.
int RunFix(const Options& options) {
    const ULONGLONG started = GetTickCount64();
    RunFacts facts = StartFacts(options);
    const UserChoice& user = facts.user;
    const std::wstring user_root = UserPlaceRoot(user);
    std::optional<RunLock> lock;
    Examined before;
    try {
        // One fix, undo or examination at a time: a second would plan from values the
        // first is changing.
        lock.emplace(10000);
        Options look = options;
        look.report_only = true;
        before = Examine(look, facts);
    } catch (const Failure& failure) {
        before.error = Describe(failure);
    }
    if (before.error) {
        PrintError(*before.error);
        return exit_code::kCouldNotComplete;
    }
    if (!user.user.logged_on) {
        Examined after;
        const int code = CloseWith(options, facts, started, &after, false);
        if (!options.quiet) WriteText(STD_OUTPUT_HANDLE, L"Fix: nothing changed: " +
                                         (user.unavailable_reason.empty() ? std::wstring(kNoUserLoggedOn)
                                                                          : user.unavailable_reason) +
                                         L"; there are no user settings to fix.\n");
        return code;
    }
    Win32RegistrySource system(user.user.is_process_user ? std::wstring() : user.user.sid);
    ExaminedUserRegistry examined(system, true);
    const FixPlan plan = PlanFix(before.rows, examined);
    Win32UserHive hive(user.user.is_process_user ? std::wstring() : user.user.sid);
    UndoRecord record{ExaminedSid(user), facts.computer_name, NowUtc(), {}, {}};
    std::optional<ReportError> failure;
    std::wstring undo_path;
    Applied applied;
    if (const std::optional<Failure> unreadable = RecordUndo(plan, hive, &record)) {
        failure = Describe(*unreadable);
    } else if (!record.values.empty()) {
        try {
            undo_path = WriteUndoFile(UserLocalAppData(user), record.made_utc, UndoFileText(record),
                                      !user.user.is_process_user);
            // Said at once: should the run be stopped from here on, its undo file is known.
            if (!options.quiet) WriteText(STD_OUTPUT_HANDLE, L"Undo file written: " + undo_path + L"\n");
            applied = ApplyFix(record, hive, FaultAfterFixValue);
            if (applied.failure) {
                failure = Describe(*applied.failure);
                failure->failure.action += L" (what was changed before is in the undo file)";
            }
        } catch (const Failure& unwritten) {
            failure = Describe(unwritten);
        }
    }
    if (failure) PrintError(*failure);
    Examined after;
    const int code = CloseWith(options, facts, started, &after, failure.has_value());
    if (!options.quiet) {
        WriteText(STD_OUTPUT_HANDLE, FixOutcomeText(plan, record, applied.values, after.rows, undo_path, user_root));
    }
    return code;
}

// --undo FILE: the file checked whole and against the registry before anything changes.
int RunUndo(const Options& options) {
    const ULONGLONG started = GetTickCount64();
    RunFacts facts = StartFacts(options);
    const UserChoice& user = facts.user;
    const auto refuse = [&](const std::wstring& why) {
        WriteText(STD_ERROR_HANDLE, L"tkexamine: the undo file " + options.undo_path + L" is refused: " + why +
                                        L". Nothing was changed.\n");
        return exit_code::kUndoRefused;
    };
    std::optional<RunLock> lock;
    std::string bytes;
    try {
        lock.emplace(10000);
        bytes = ReadUndoFile(options.undo_path);
    } catch (const Failure& failure) {
        PrintError(Describe(failure));
        return exit_code::kCouldNotComplete;
    }
    const ParsedUndo parsed = ParseUndoFile(bytes);
    if (!parsed.record) return refuse(parsed.error);
    const UndoRecord& record = *parsed.record;
    if (!user.user.logged_on) {
        return refuse(L"it was made for the user " + Printable(record.user_sid) + L", and " +
                      (user.unavailable_reason.empty() ? std::wstring(kNoUserLoggedOn) : user.unavailable_reason));
    }
    if (!SameName(record.user_sid, ExaminedSid(user))) {
        return refuse(L"it was made for the user " + Printable(record.user_sid) + L", not for " + ExaminedSid(user) +
                      L" (name that user with --user)");
    }
    if (!SameName(record.computer_name, facts.computer_name) && !options.force) {
        return refuse(L"it was made on the computer " + Printable(record.computer_name) + L", not on " +
                      facts.computer_name + L" (--force puts it back all the same)");
    }
    Win32UserHive hive(user.user.is_process_user ? std::wstring() : user.user.sid);
    const UndoState state = InspectUndo(record, hive);
    if (state.failure) {
        PrintError(Describe(*state.failure));
        return exit_code::kCouldNotComplete;
    }
    const std::wstring user_root = UserPlaceRoot(user);
    const std::vector<std::wstring> changed = state.ChangedSince(record);
    if (!changed.empty() && !options.force) {
        std::wstring why = L"these values were changed since the fix (--force puts them back all the same):";
        for (const std::wstring& place : changed) why += L"\n  " + Printable(place);
        return refuse(why);
    }
    const Applied applied = ApplyUndo(record, state, hive, options.force);
    if (applied.failure) PrintError(Describe(*applied.failure));
    Examined after;
    const int code = CloseWith(options, facts, started, &after, applied.failure.has_value());
    std::wstring text = L"Undo of the fix made " + Printable(Widen(record.made_utc)) + L" (" + options.undo_path + L"):\n";
    for (std::size_t i = record.values.size(); i-- > 0;) {
        const UndoValue& value = record.values[i];
        if (state.values[i] == ValueNow::AsBefore) continue;
        text += L"  " + Printable(ValuePlace(value.key, value.name, user_root)) + L": back to " +
                ValueText(value.old) + L"\n";
    }
    text += L"Undo: " + std::to_wstring(applied.values) + L" values put back\n";
    if (!options.quiet) WriteText(STD_OUTPUT_HANDLE, text);
    return code;
}

int Run(const Options& options) {
    if (options.fix) return RunFix(options);
    if (!options.undo_path.empty()) return RunUndo(options);
    const ULONGLONG started = GetTickCount64();
    RunFacts facts = StartFacts(options);

    Examined examined;
    try {
        examined = Examine(options, facts);
    } catch (const Failure& failure) {
        examined.error = Describe(failure);
    }
    facts.duration_seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    int code = examined.error ? exit_code::kCouldNotComplete : ExitCodeFor(examined.rows);
    const bool detect = options.detect != Options::Detect::Off;
    std::optional<ReportError> unfinished = examined.error;  // the first failure, for --detect
    const auto failed = [&](const ReportError& error) {
        if (!detect) PrintError(error);
        if (!unfinished) unfinished = error;
        code = exit_code::kCouldNotComplete;
    };
    if (examined.error && !detect) PrintError(*examined.error);

    if (options.json == Options::Json::Stdout) {
        if (!WriteBytes(STD_OUTPUT_HANDLE, ReportJson(examined.rows, facts, code, examined.error))) {
            failed(Describe(Failure{GetLastError(), L"Cannot write the report", L"the standard output"}));
        }
    } else if (options.json == Options::Json::Path) {
        if (const std::optional<Failure> failure = WriteReportFile(options, facts, examined, code)) {
            failed(Describe(*failure));
        }
    }
    if (detect) {
        return PrintDetection(unfinished ? CouldNotComplete(ErrorText(*unfinished))
                                         : DetectionOf(examined.rows, facts.user, facts.skipped_groups,
                                                       options.detect == Options::Detect::Strict));
    }
    if (!options.quiet) {
        // With the report on the standard output, the summary keeps out of its way.
        WriteText(options.json == Options::Json::Stdout ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE,
                  SummaryText(examined.rows, facts));
    }
    if (options.what_if) WriteText(STD_OUTPUT_HANDLE, examined.fix_plan);
    return code;
}

}  // namespace

void ReportFailure(const Failure& failure) { PrintError(Describe(failure)); }

void ReportDetectionFailure(const Failure& failure) {
    PrintDetection(CouldNotComplete(ErrorText(Describe(failure))));
}

int Examine(const std::vector<std::wstring>& args) {
    const ParsedCommandLine parsed = ParseCommandLine(args);
    if (!parsed.options) {
        // A detection script still gets its one line, and an exit code it can read.
        if (AsksForDetection(args)) {
            return PrintDetection(
                CouldNotComplete(L"the command line is not understood: " + parsed.error));
        }
        WriteText(STD_ERROR_HANDLE, L"tkexamine: " + parsed.error + L"\n\n" + UsageText());
        return exit_code::kBadCommandLine;
    }
    if (parsed.options->help) {
        WriteText(STD_OUTPUT_HANDLE, UsageText());
        return exit_code::kAllPassed;
    }
    if (parsed.options->version) {
        WriteText(STD_OUTPUT_HANDLE, std::wstring(L"tkexamine ") + kVersion + L"\n");
        return exit_code::kAllPassed;
    }
    return Run(*parsed.options);
}

}  // namespace qtk::companion::win32
