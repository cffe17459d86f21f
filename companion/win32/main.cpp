// tkexamine: examines this workstation, leaves in C:\tmptk\ what the diagnostic reads,
// prints a summary and, when asked, a JSON report. A console program that never opens a
// window or a message box, so that nothing can block an unattended run; the exit code
// says how the examination came out (see companion/cli.h and docs/tkexamine.md).
#include <windows.h>

#include <string>
#include <vector>

#include "companion/cli.h"
#include "companion/detection.h"
#include "companion/win32/examine.h"
#include "platform/win32/program.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    // Automation reads 3 for "could not complete", whatever the error; a detection script
    // reads 1, "issue", and its one line.
    const bool detect = qtk::companion::AsksForDetection(args);
    return qtk::win32::RunProgram(
        [&args] { return qtk::companion::win32::Examine(args); },
        detect ? qtk::companion::win32::ReportDetectionFailure : qtk::companion::win32::ReportFailure,
        detect ? qtk::companion::detection_exit::kIssue : qtk::companion::exit_code::kCouldNotComplete);
}
