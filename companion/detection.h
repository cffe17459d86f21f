// tkexamine as a management system's detection script: one line for the console of the
// management system and an exit code in its convention, so that the script that runs us
// only passes both through.
//
// Intune Remediations read a detection script by its exit code, 0 "no issue" and 1 "issue
// detected" (which runs the remediation), and show the last line of its output as the
// detection output; "The maximum allowed output size limit is 2048 characters."
// ("Use Remediations to help fix common support issues",
// https://learn.microsoft.com/mem/intune/fundamentals/remediations). Anything on the
// standard error counts against the script there, so detection writes nothing to it.
//
// What the line says:
//   no issue: 47 passed, 0 failed, 3 undecided, user CORP\somchai (S-1-5-21-...);
//       undecided (reason): id, id; ...
//   issue: 45 passed, 2 failed, 0 undecided, user ...; failed: id, id
//   issue: could not complete: <what failed>
// A row nobody could decide is no issue by default: a remediation cannot mend "access
// denied" or "no user logged on", and running one on every such desk would only hide the
// devices that really fail. The line still names each undecided row and why, and
// --detect=strict makes them an issue for those who want to hear about them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "companion/check_result.h"
#include "companion/finding.h"  // kCutMark, which ends a cut line as it ends a cut reason
#include "companion/run_context.h"

namespace qtk::companion {

inline constexpr std::size_t kDetectionLineLimit = 2048;

namespace detection_exit {
inline constexpr int kNoIssue = 0;
inline constexpr int kIssue = 1;
}  // namespace detection_exit

struct Detection {
    bool issue = false;
    std::wstring line;  // one line, no line break, at most kDetectionLineLimit characters

    int ExitCode() const { return issue ? detection_exit::kIssue : detection_exit::kNoIssue; }
};

// The rows of a completed examination. undecided_is_issue: --detect=strict.
Detection DetectionOf(const std::vector<CheckResult>& rows, const UserChoice& user,
                      const std::vector<std::string>& skipped_groups, bool undecided_is_issue);

// A run that ended before its rows meant anything: a refused directory, a report that
// could not be written, a command line not understood.
Detection CouldNotComplete(std::wstring_view what);

// text on one line that a console shows as it is: control characters become '?', and a
// text longer than limit (in UTF-16 units, so never more characters) is cut on a character
// boundary and ends in kCutMark.
std::wstring FitLine(std::wstring_view text, std::size_t limit = kDetectionLineLimit);

// Whether the command line asks for detection, even when it is otherwise not understood:
// such a caller still wants its one line and an exit code it can read.
bool AsksForDetection(const std::vector<std::wstring>& args);

}  // namespace qtk::companion
