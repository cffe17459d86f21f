// What the probe's commands share: their output format, the program they look at, and
// the table that dispatches them (main.cpp).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace probe {

// A command that cannot do its job: printed as "error<TAB>why", and the probe exits 2.
struct ProbeError {
    std::string why;
};

// The program looked at: found by its file name and window class, or, after launch, the
// process the probe started itself.
struct Target {
    std::wstring exe = L"tkcheck.exe";
    std::wstring window_class = L"QtkForm2";
    HWND main = nullptr;
    HANDLE process = nullptr;
    DWORD pid = 0;
};
Target& TheTarget();

// One command of the table: its name, how many arguments follow it, what it does.
using Args = std::vector<std::wstring>;
struct Command {
    std::wstring_view name;
    int arg_count;
    void (*run)(const Args& args);
};

// Output: one tab-separated line per fact, flushed at once (the bench reads the output
// of a probe that still runs).
std::string Utf8(std::wstring_view text);
std::string Field(std::wstring_view text);
void Line(const std::string& text);
std::string Num(long long v);
std::string Hex(COLORREF c);
int Milliseconds(const std::wstring& text);

// Windows of the program, read across processes.
std::wstring ClassOf(HWND hwnd);
bool TryTextOf(HWND hwnd, std::wstring& text);
std::wstring TextOf(HWND hwnd);
DWORD PidOf(HWND hwnd);
DWORD FindProgramPid();
HWND FindMainWindow(DWORD pid);
HWND FindMessageBox(DWORD pid);
void RequireMain();
RECT ScreenRect(HWND hwnd);
RECT ClientScreenRect(HWND hwnd);
ULONGLONG Deadline(int timeout_ms);
DWORD MsLeft(ULONGLONG deadline);

// The commands, grouped by what they look at or change.
void RequireUncovered(int timeout_ms);
void WaitShown(const Args&);   // windows.cpp
void Close(const Args&);
void WaitGone(const Args&);
void WatchError(const Args&);
void AnswerBox(const Args&);
void Launch(const Args&);      // launch.cpp
void WaitExit(const Args&);
void Dump(const Args&);        // board.cpp
void Colors(const Args&);
void Fit(const Args&);         // fit.cpp
void Tips(const Args&);        // extras.cpp
void Hover(const Args&);
void ClipboardClear(const Args&);
void CopyKey(const Args&);
void CopyMenu(const Args&);
void Clipboard(const Args&);
void AccNames(const Args&);
void RegSetRaw(const Args&);   // registry.cpp
void RegDeny(const Args&);
void ShowState(const Args&);   // process.cpp
void Hold(const Args&);
void ReleaseAfterExit(const Args&);
void AclShow(const Args&);     // acl.cpp
void AclOpenToEveryone(const Args&);
void AclSet(const Args&);
void HoldUnshared(const Args&);
void HoldWhile(const Args&);
void KeepMutex(const Args&);
void CertAddMy(const Args&);   // token.cpp
void CertAddRoot(const Args&);
void TokenRows(const Args&);

}  // namespace probe
