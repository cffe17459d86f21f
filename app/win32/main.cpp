// tkcheck: build the window, run the checks once, show the result. The program shell
// hardens the process and reports whatever failure ends the run.
#include <windows.h>

#include <string>

#include "app/layout.h"
#include "app/win32/form2_window.h"
#include "platform/win32/program.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_security.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace qtk::win32;
    return RunProgram(
        [instance] {
            Win32FileSystem files;
            Win32Registry registry;
            Win32TextCodec text;
            Win32MessageBoxes messages{std::wstring(qtk::kApplicationTitle)};
            Win32Launcher launcher;
            Win32LaunchGuard launch_guard;
            const qtk::Platform platform{files, registry, text, messages, launcher, &launch_guard};
            Form2Window window(instance, platform);
            window.LoadAndShow();
            window.RunUntilClosed();
            return 0;
        },
        [](const qtk::Failure& failure) { ShowErrorReport(failure, qtk::kApplicationTitle); });
}
