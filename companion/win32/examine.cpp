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
        result.fix_plan = FixPlanText(PlanFix(result.rows, examined), UserPlaceRoot(user));
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

int Run(const Options& options) {
    const ULONGLONG started = GetTickCount64();
    RunFacts facts;
    facts.tool_version = kVersion;
    facts.started_utc = NowUtc();
    facts.report_only = options.report_only;
    facts.skipped_groups = options.skip;
    facts.computer_name = ComputerName();
    facts.elevated = ProcessIsElevated();
    facts.session_id = ProcessSession();
    {
        Win32Sessions sessions;
        facts.user = ChooseUser(sessions, options.user_sid);
    }

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
        const std::wstring path = IsFolder(options.json_path)
                                      ? ReportFileInFolder(options.json_path, facts.computer_name)
                                      : options.json_path;
        if (const std::optional<Failure> failure =
                ReplaceFileWhole(path, ReportJson(examined.rows, facts, code, examined.error))) {
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
