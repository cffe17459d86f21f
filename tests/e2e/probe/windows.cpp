// The program's windows as a user meets them: the board appearing, its message boxes
// (read, then answered with OK), and the close.
#include "probe.h"

namespace probe {
namespace {

// The first visible window above `hwnd` in the Z order that hides part of it, or null.
// A window still on top of the board (say the console of a clean-up script started by an
// earlier run) would otherwise end up in the colours read off the screen.
HWND CoveringWindow(HWND hwnd) {
    const RECT board = ScreenRect(hwnd);
    for (HWND above = GetWindow(hwnd, GW_HWNDPREV); above; above = GetWindow(above, GW_HWNDPREV)) {
        if (!IsWindowVisible(above)) continue;
        RECT r = ScreenRect(above), overlap{};
        if (IntersectRect(&overlap, &r, &board)) return above;
    }
    return nullptr;
}

bool MainVisible(DWORD pid) {
    HWND main = FindMainWindow(pid);
    return main && IsWindowVisible(main);
}

// Reads a message box of the program, presses its OK button and waits until it is gone.
// Prints one msgbox line; n counts the boxes this command has seen.
void ReportAndDismiss(HWND box, int n, bool main_visible) {
    std::wstring caption, text;
    // A box is visible once its children exist, but under load the text may still be on
    // its way: keep asking briefly rather than report an unread box.
    bool read = false;
    const ULONGLONG read_by = Deadline(5000);
    while (IsWindow(box)) {
        read = TryTextOf(box, caption) && TryTextOf(GetDlgItem(box, 0xFFFF), text);
        if (read || GetTickCount64() >= read_by) break;
        Sleep(20);
    }
    // A box that closes before anyone pressed OK was never read by the user, e.g. one
    // shown after the quit message was posted.
    std::string outcome = "vanished";
    if (read && IsWindow(box)) {
        HWND ok = GetDlgItem(box, IDOK);
        if (!ok) throw ProbeError{"message box without an OK button"};
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(ok, BM_CLICK, 0, 0, SMTO_NORMAL, 15000, &ignored);
        outcome = "ok";
    }
    Line("msgbox\t" + Num(n) + "\t" + Num(main_visible ? 1 : 0) + "\t" + Field(caption) + "\t" +
         Field(text) + "\t" + outcome);
    // Do not count the same box twice while it is being torn down.
    const ULONGLONG gone_by = Deadline(10000);
    while (IsWindow(box) && IsWindowVisible(box) && GetTickCount64() < gone_by) Sleep(10);
    if (IsWindow(box) && IsWindowVisible(box)) throw ProbeError{"OK did not close the box"};
}

}  // namespace

void RequireUncovered(int timeout_ms) {
    RequireMain();
    const HWND main = TheTarget().main;
    const ULONGLONG deadline = Deadline(timeout_ms);
    while (HWND cover = CoveringWindow(main)) {
        if (GetTickCount64() >= deadline) {
            std::wstring text;
            TryTextOf(cover, text);
            throw ProbeError{"the board stays covered by a " + Utf8(ClassOf(cover)) + " window [" +
                             Field(text) + "] of process " + Num(PidOf(cover))};
        }
        Sleep(20);
    }
}

// wait-shown MS: until the main window is visible, its process idle and nothing on top
// of it.
void WaitShown(const Args& args) {
    const ULONGLONG deadline = Deadline(Milliseconds(args[0]));
    bool seen = false;
    for (;;) {
        const DWORD pid = FindProgramPid();
        if (pid) {
            seen = true;
            HWND hwnd = FindMainWindow(pid);
            // Found during WM_CREATE the window may still lack its children; visible
            // and idle means creation and the check sequence are over.
            if (hwnd && IsWindowVisible(hwnd)) {
                if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid)) {
                    WaitForInputIdle(process, MsLeft(deadline));
                    CloseHandle(process);
                }
                TheTarget().main = hwnd;
                RequireUncovered(static_cast<int>(MsLeft(deadline)));
                Line("shown\t" + Num(pid));
                return;
            }
            if (HWND box = FindMessageBox(pid)) {
                std::wstring text;
                TryTextOf(GetDlgItem(box, 0xFFFF), text);
                throw ProbeError{"a message box appeared instead: " + Field(text)};
            }
        } else if (seen) {
            throw ProbeError{"the program ended without showing its window"};
        }
        if (GetTickCount64() >= deadline) throw ProbeError{"main window not shown in time"};
        Sleep(20);
    }
}

// close: asks the main window to close, as its system menu would.
void Close(const Args&) {
    RequireMain();
    if (!PostMessageW(TheTarget().main, WM_SYSCOMMAND, SC_CLOSE, 0)) {
        throw ProbeError{"PostMessage failed"};
    }
    Line("closed");
}

// wait-gone MS: until the main window no longer exists.
void WaitGone(const Args& args) {
    RequireMain();
    const ULONGLONG deadline = Deadline(Milliseconds(args[0]));
    while (IsWindow(TheTarget().main)) {
        if (GetTickCount64() >= deadline) throw ProbeError{"main window still exists"};
        Sleep(10);
    }
    Line("gone");
}

// watch-error MS: until the program has ended (or the deadline, a safety net), every
// message box of the program is reported and dismissed with OK. Whether the main window
// was visible at any time while watching, and when each box appeared, is part of the
// report: an error report must come before the window is ever shown, or after it is gone.
void WatchError(const Args& args) {
    const ULONGLONG deadline = Deadline(Milliseconds(args[0]));
    DWORD pid = 0;
    HANDLE process = nullptr;
    int boxes = 0;
    bool main_ever_visible = false;
    Line("#msgbox\tn\tmain_visible\tcaption\ttext\tdismissed");
    for (;;) {
        if (!pid) {
            pid = FindProgramPid();
            if (pid) process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
        }
        if (pid) {
            const bool main_visible = MainVisible(pid);
            main_ever_visible = main_ever_visible || main_visible;
            if (HWND box = FindMessageBox(pid)) ReportAndDismiss(box, ++boxes, main_visible);
            if (process && WaitForSingleObject(process, 0) == WAIT_OBJECT_0) break;
        }
        if (GetTickCount64() >= deadline) break;
        Sleep(10);
    }
    std::string exit_code = "-";
    bool exited = false;
    if (process) {
        exited = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        DWORD code = 0;
        if (exited && GetExitCodeProcess(process, &code)) exit_code = Num(code);
        CloseHandle(process);
    }
    Line("#watch\tboxes\tmain_ever_visible\tprocess_seen\texited\texit_code");
    Line("watch\t" + Num(boxes) + "\t" + Num(main_ever_visible ? 1 : 0) + "\t" + Num(pid ? 1 : 0) +
         "\t" + Num(exited ? 1 : 0) + "\t" + exit_code);
}

// answer-box MS: the next message box of the program, reported, then OK pressed. For a
// box the program raises and then carries on from (the registry reader's), so more
// commands may follow.
void AnswerBox(const Args& args) {
    const ULONGLONG deadline = Deadline(Milliseconds(args[0]));
    Line("#msgbox\tn\tmain_visible\tcaption\ttext\tdismissed");
    bool seen = false;
    for (;;) {
        if (const DWORD pid = FindProgramPid()) {
            seen = true;
            const bool main_visible = MainVisible(pid);
            if (HWND box = FindMessageBox(pid)) {
                ReportAndDismiss(box, 1, main_visible);
                return;
            }
        } else if (seen) {
            throw ProbeError{"the program ended without a message box"};
        }
        if (GetTickCount64() >= deadline) throw ProbeError{"no message box in time"};
        Sleep(10);
    }
}

}  // namespace probe
