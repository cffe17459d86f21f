// tkexamine: examines this workstation and leaves in C:\tmptk\ what the diagnostic reads,
// then ends. No window, no command line, no configuration: exit code 0 when every file was
// written; otherwise one message box (and a line on the console, if there is one) naming
// the file or directory and the Windows error with its system description.
#include <windows.h>

#include "companion/win32/examine.h"
#include "platform/win32/program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return qtk::win32::RunProgram(qtk::companion::win32::Examine,
                                  qtk::companion::win32::ReportFailure);
}
