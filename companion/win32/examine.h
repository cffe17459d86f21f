// tkexamine's work and how it reports a failure, for the program shell to run.
#pragma once

#include "platform/failure.h"

namespace qtk::companion::win32 {

// Examines this workstation and leaves in the marker directory what the diagnostic reads.
// Returns 0 once every file is in place; throws Failure otherwise.
int Examine();

// One message box and, when there is a console, one line on it: the file or directory,
// the Windows error and its system description.
void ReportFailure(const Failure& failure);

}  // namespace qtk::companion::win32
