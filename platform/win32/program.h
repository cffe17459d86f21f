// What every program of the kit does around its own work: harden the process before
// anything else runs, and turn whatever escapes the work into one report and an exit code.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "platform/failure.h"

namespace qtk::win32 {

// Shows or prints a failure that ended the run. A window program shows a box; a console
// program may write to stderr instead.
using FailureReporter = std::function<void(const Failure&)>;

// Restricts the DLL search, runs work and returns its exit code. A Failure, an allocation
// failure or any other exception that leaves work is handed to report once, and the run
// ends with failure_exit, or when that is 0 with the failure's error number (1 when it
// has none).
int RunProgram(const std::function<int()>& work, const FailureReporter& report,
               int failure_exit = 0);

// "Error 2: The system cannot find the file specified.", a blank line, then what was being
// done and, on its own line, to what.
std::wstring ErrorReportText(const Failure& failure);

// A modal OK-only error box with that text, captioned with title.
void ShowErrorReport(const Failure& failure, std::wstring_view title);

}  // namespace qtk::win32
