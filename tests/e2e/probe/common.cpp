// Output format and the search for the program and its windows, shared by every command.
#include "probe.h"

#include <tlhelp32.h>

#include <cstdio>

namespace probe {

Target& TheTarget() {
    static Target target;
    return target;
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

// Texts go into tab-separated fields, so the separators and line ends inside them are
// escaped; everything else, Thai included, is printed as UTF-8.
std::string Field(std::wstring_view text) {
    std::string out;
    for (char c : Utf8(text)) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

void Line(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    // The bench reads our output while we still run (watch-error in the background).
    std::fflush(stdout);
}

std::string Num(long long v) { return std::to_string(v); }

std::string Hex(COLORREF c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
    return buffer;
}

int Milliseconds(const std::wstring& text) {
    wchar_t* end = nullptr;
    const long v = std::wcstol(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0' || v < 0) throw ProbeError{"not milliseconds: " + Utf8(text)};
    return static_cast<int>(v);
}

ULONGLONG Deadline(int timeout_ms) { return GetTickCount64() + static_cast<ULONGLONG>(timeout_ms); }

DWORD MsLeft(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, 256);
    return buffer;
}

// WM_GETTEXT works across processes for STATIC and BUTTON controls, unlike
// GetWindowTextW, and reads what the control itself holds. Fails only if the window
// went away or its thread stopped answering for a long while: on a loaded machine a
// program that is merely slow must not count as hung (no SMTO_ABORTIFHUNG, whose five
// quiet seconds a busy machine reaches).
bool TryTextOf(HWND hwnd, std::wstring& text) {
    constexpr UINT kPatienceMs = 15000;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kPatienceMs, &length))
        return false;
    text.assign(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                             SMTO_NORMAL, kPatienceMs, &copied))
        return false;
    text.resize(copied);
    return true;
}

std::wstring TextOf(HWND hwnd) {
    std::wstring text;
    if (!TryTextOf(hwnd, text)) throw ProbeError{"WM_GETTEXT failed on " + Utf8(ClassOf(hwnd))};
    return text;
}

DWORD PidOf(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

DWORD FindProgramPid() {
    Target& target = TheTarget();
    if (target.process) {
        return WaitForSingleObject(target.process, 0) == WAIT_TIMEOUT ? target.pid : 0;
    }
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry)) {
        if (lstrcmpiW(entry.szExeFile, target.exe.c_str()) == 0) found = entry.th32ProcessID;
    }
    CloseHandle(snap);
    return found;
}

namespace {

struct WindowsOfProcess {
    DWORD pid;
    std::vector<HWND> found;
};

// A plain function, not a lambda: 32-bit callbacks must be __stdcall.
BOOL CALLBACK CollectWindowOf(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<WindowsOfProcess*>(lp);
    if (PidOf(hwnd) == search->pid) search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindowsOf(DWORD pid) {
    WindowsOfProcess search{pid, {}};
    EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

HWND FindMainWindow(DWORD pid) {
    for (HWND hwnd : TopLevelWindowsOf(pid)) {
        if (ClassOf(hwnd) == TheTarget().window_class) return hwnd;
    }
    return nullptr;
}

HWND FindMessageBox(DWORD pid) {
    for (HWND hwnd : TopLevelWindowsOf(pid)) {
        if (ClassOf(hwnd) == L"#32770" && IsWindowVisible(hwnd)) return hwnd;
    }
    return nullptr;
}

void RequireMain() {
    const HWND main = TheTarget().main;
    if (!main || !IsWindow(main)) throw ProbeError{"no main window: run wait-shown first"};
}

RECT ScreenRect(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return r;
}

RECT ClientScreenRect(HWND hwnd) {
    RECT r{};
    GetClientRect(hwnd, &r);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

}  // namespace probe
