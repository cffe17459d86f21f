// Starting a program ourselves and timing it, for the launch benchmark, and awaiting its
// end.
#include <cstdio>

#include "probe.h"

namespace probe {
namespace {

double ElapsedMs(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
           static_cast<double>(frequency);
}

// The main window of pid by class alone: cheaper than enumerating every top-level window,
// which matters when polling every millisecond during a measurement.
HWND FindClassWindowOf(DWORD pid) {
    const std::wstring& window_class = TheTarget().window_class;
    for (HWND hwnd = FindWindowExW(nullptr, nullptr, window_class.c_str(), nullptr); hwnd;
         hwnd = FindWindowExW(nullptr, hwnd, window_class.c_str(), nullptr)) {
        if (PidOf(hwnd) == pid) return hwnd;
    }
    return nullptr;
}

}  // namespace

// launch PATH MS: the time a user waits, from the start of the process to its window on
// the screen with everything painted and the program ready for input. Timed here, around
// CreateProcess, so no shell or Wine start-up of the probe itself is counted. Later
// commands look at this process.
void Launch(const Args& args) {
    Target& target = TheTarget();
    if (target.process) throw ProbeError{"launch may be used once per probe run"};
    const std::wstring& path = args[0];
    const int timeout_ms = Milliseconds(args[1]);
    std::wstring command_line = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    LARGE_INTEGER start, visible, idle;
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        throw ProbeError{"CreateProcess failed with error " + Num(GetLastError()) + ": " +
                         Utf8(path)};
    }
    CloseHandle(info.hThread);
    target.process = info.hProcess;
    target.pid = info.dwProcessId;
    const ULONGLONG deadline = Deadline(timeout_ms);
    HWND hwnd = nullptr;
    for (unsigned polls = 0;; ++polls) {
        hwnd = FindClassWindowOf(target.pid);
        if (hwnd && IsWindowVisible(hwnd)) break;
        if (WaitForSingleObject(target.process, 0) != WAIT_TIMEOUT) {
            throw ProbeError{"the program ended without showing its window"};
        }
        if (polls % 64 == 63 && FindMessageBox(target.pid)) {
            throw ProbeError{"a message box appeared instead of the window"};
        }
        if (GetTickCount64() >= deadline) throw ProbeError{"main window not shown in time"};
        Sleep(1);
    }
    QueryPerformanceCounter(&visible);
    if (WaitForInputIdle(target.process, MsLeft(deadline)) != 0) {
        throw ProbeError{"the program did not become idle in time"};
    }
    QueryPerformanceCounter(&idle);
    target.main = hwnd;
    char times[64];
    std::snprintf(times, sizeof times, "%.3f\t%.3f", ElapsedMs(start, visible),
                  ElapsedMs(start, idle));
    Line("#launched\tpid\tvisible_ms\tidle_ms");
    Line("launched\t" + Num(target.pid) + "\t" + times);
}

// wait-exit MS: until the program's process has ended; prints its exit code.
void WaitExit(const Args& args) {
    HANDLE process = TheTarget().process;
    if (!process) {
        const DWORD pid = FindProgramPid();
        if (pid) process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (!process) {
            Line("exited\t-");
            return;
        }
    }
    const DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(Milliseconds(args[0])));
    DWORD code = 0;
    const bool got = waited == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
    if (process != TheTarget().process) CloseHandle(process);
    if (!got) throw ProbeError{"the program is still running"};
    Line("exited\t" + Num(code));
}

}  // namespace probe
