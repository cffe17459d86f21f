// tkexamine's work and how it reports a failure, for the program shell to run.
#pragma once

#include <string>
#include <vector>

#include "platform/failure.h"

namespace qtk::companion::win32 {

// One run from its command line (the arguments after the program's name) to its exit
// code (see companion/cli.h). Every failure is reported on the standard error, and in the
// report when one is asked for, and ends the run with 3.
int Examine(const std::vector<std::wstring>& args);

// One line on the standard error: what was being done, to what, the Windows error and its
// system description. Never a window: nothing may block an unattended run.
void ReportFailure(const Failure& failure);

// The same for a detection run (--detect): its one line on the standard output,
// "issue: could not complete: ...", for a run that ends with detection_exit::kIssue.
void ReportDetectionFailure(const Failure& failure);

}  // namespace qtk::companion::win32
