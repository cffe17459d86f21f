// tkexamine's command line. A management system starts it unattended, a person from a
// console or by double-click; both spell options the way they know: /name or --name,
// /? -h --help, a value after '=' (or ':' in the slash form) or as the next argument.
// Names are matched without regard to case, as Windows tools do.
//
// A bad command line is never half-obeyed: the whole line is rejected before anything is
// examined, and the caller exits with ERROR_INVALID_PARAMETER (87).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qtk::companion {

struct Options {
    bool help = false;
    bool version = false;
    bool quiet = false;        // nothing on the console but errors
    bool report_only = false;  // examine and report, leave C:\tmptk untouched
    enum class Json { None, Stdout, Path } json = Json::None;
    std::wstring json_path;    // for Json::Path: a file, or a folder for <COMPUTERNAME>.json
    std::wstring user_sid;     // empty: the process's user, or the console user under SYSTEM
    // Report-only groups left out of this run (a fleet without Edge's IE mode, or desks
    // where the token is checked elsewhere), as their report ids, each once, in the order
    // given. The window's groups cannot be left out: the diagnostic needs every marker.
    std::vector<std::string> skip;
    // --detect: one line and exit 0 (no issue) or 1 (issue), as a management system's
    // detection script answers (companion/detection.h); never writes markers. Strict: an
    // undecided row is an issue too.
    enum class Detect { Off, On, Strict } detect = Detect::Off;
    // --what-if: examine, then print what a fix of the user's own settings would change
    // (companion/fix_plan.h); changes nothing, markers included.
    bool what_if = false;
    // --fix: examine, set the user's own values the failing user rows need (undo file
    // first), examine again and write the markers (companion/user_fix.h).
    bool fix = false;
    // --undo FILE: put back what the fix that wrote FILE changed; --force also puts back
    // values changed since.
    std::wstring undo_path;
    bool force = false;
};

// The groups --skip may name: the ones that end only in the report.
bool IsSkippableGroup(std::wstring_view group);

struct ParsedCommandLine {
    std::optional<Options> options;  // nothing when the line is bad
    std::wstring error;              // why, for a person
};

// args: the arguments after the program's name.
ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& args);

// A SID in its string form, "S-1-5-21-...": only these may become part of a registry path
// under HKEY_USERS, so nothing like "..\" or a second path separator gets through.
bool IsSidString(const std::wstring& text);

std::wstring UsageText();

namespace exit_code {
inline constexpr int kAllPassed = 0;
inline constexpr int kSomethingFailed = 1;
inline constexpr int kSomethingUndecided = 2;
inline constexpr int kCouldNotComplete = 3;
// --undo refused its file: not one of ours, another user's, or values changed since.
inline constexpr int kUndoRefused = 4;
inline constexpr int kBadCommandLine = 87;  // ERROR_INVALID_PARAMETER
}  // namespace exit_code

}  // namespace qtk::companion
