// Start-up: harden the process, build the window, run the checks once, show the result,
// and report any failure in exactly one place.
#include <windows.h>

#include <exception>
#include <new>

#include "app/win32/form2_window.h"
#include "platform/win32/win32_platform.h"

namespace {

int ExitCodeFor(const qtk::Failure& failure) {
    return failure.code != 0 ? static_cast<int>(failure.code) : 1;
}

int Run(HINSTANCE instance) {
    qtk::win32::Win32FileSystem files;
    qtk::win32::Win32Registry registry;
    qtk::win32::Win32TextCodec text;
    qtk::win32::Win32MessageBoxes messages;
    qtk::win32::Win32Launcher launcher;
    const qtk::Platform platform{files, registry, text, messages, launcher};
    try {
        qtk::win32::Form2Window window(instance, platform);
        window.LoadAndShow();
        window.RunUntilClosed();
        return 0;
    } catch (const qtk::Failure& failure) {
        qtk::win32::ShowErrorReport(failure);
        return ExitCodeFor(failure);
    } catch (const std::bad_alloc&) {
        const qtk::Failure failure{ERROR_NOT_ENOUGH_MEMORY, L"Out of memory", L""};
        qtk::win32::ShowErrorReport(failure);
        return ExitCodeFor(failure);
    } catch (const std::exception&) {
        const qtk::Failure failure{ERROR_INTERNAL_ERROR, L"Internal error", L""};
        qtk::win32::ShowErrorReport(failure);
        return ExitCodeFor(failure);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    qtk::win32::RestrictDllSearch();
    return Run(instance);
}
