// tkprobe: looks at the running diagnostic from outside, the way a user or an assistive
// tool would, and prints what it sees as tab-separated lines on stdout.
//
//   tkprobe [--exe NAME] [--class NAME] COMMAND [ARGS]... [COMMAND [ARGS]...]...
//
// Commands run left to right in one process, because every start of a Wine process costs
// a noticeable fraction of a second:
//   wait-shown MS   until the main window is visible and its process idle
//   dump            the main window and every descendant control
//   colors          exact-colour pixel counts per control, read from the screen
//   watch-error MS  message boxes of the program: caption, text; presses OK on each
//   close           asks the main window to close, as its system menu would
//   wait-gone MS    until the main window no longer exists
//   answer-box MS   the next message box of the program: reported, then OK pressed
//   launch PATH MS  starts PATH itself and times it until its main window is visible and
//                   its process idle; later commands look at that process
//   wait-exit MS    until the program's process has ended; prints its exit code
//   reg-set-raw KEY NAME TYPE HEX
//                   stores exactly the bytes HEX as the value NAME of KEY (HKLM\... or
//                   HKCU\...), through the ANSI call the program reads with
//   reg-deny KEY    gives KEY an empty access list: nobody may open it any more
// A command that cannot do its job prints "error<TAB>why" and the probe exits 2.

#include <windows.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::wstring g_exe = L"tkcheck.exe";
std::wstring g_class = L"QtkForm2";
HWND g_main = nullptr;
// Set by launch: the process we started ourselves, looked at instead of a search by name.
HANDLE g_process = nullptr;
DWORD g_pid = 0;

struct ProbeError {
    std::string why;
};

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

std::wstring ClassOf(HWND hwnd) {
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, 256);
    return buffer;
}

// WM_GETTEXT works across processes for STATIC and BUTTON controls, unlike
// GetWindowTextW, and reads what the control itself holds. Fails only if the window
// went away or its thread stopped answering.
bool TryTextOf(HWND hwnd, std::wstring& text) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return false;
    text.assign(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 2000, &copied))
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

bool Running(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

DWORD FindProgramPid() {
    if (g_process) return Running(g_process) ? g_pid : 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry)) {
        if (lstrcmpiW(entry.szExeFile, g_exe.c_str()) == 0) found = entry.th32ProcessID;
    }
    CloseHandle(snap);
    return found;
}

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

HWND FindMainWindow(DWORD pid) {
    for (HWND hwnd : TopLevelWindowsOf(pid)) {
        if (ClassOf(hwnd) == g_class) return hwnd;
    }
    return nullptr;
}

HWND FindMessageBox(DWORD pid) {
    for (HWND hwnd : TopLevelWindowsOf(pid)) {
        if (ClassOf(hwnd) == L"#32770" && IsWindowVisible(hwnd)) return hwnd;
    }
    return nullptr;
}

int ParseMs(int argc, wchar_t** argv, int& i) {
    if (i + 1 >= argc) throw ProbeError{"missing milliseconds after " + Utf8(argv[i])};
    return _wtoi(argv[++i]);
}

void RequireMain() {
    if (!g_main || !IsWindow(g_main)) throw ProbeError{"no main window: run wait-shown first"};
}

void WaitShown(int timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
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
                    const ULONGLONG now = GetTickCount64();
                    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
                    WaitForInputIdle(process, left);
                    CloseHandle(process);
                }
                g_main = hwnd;
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

// rect in the coordinates of `relative_to`'s client area.
RECT RelativeRect(HWND hwnd, HWND relative_to) {
    RECT r = ScreenRect(hwnd);
    MapWindowPoints(nullptr, relative_to, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string RectFields(const RECT& r) {
    return Num(r.left) + "\t" + Num(r.top) + "\t" + Num(r.right - r.left) + "\t" +
           Num(r.bottom - r.top);
}

UINT SystemDpi() {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return static_cast<UINT>(dpi);
}

// What the window itself is told; 0 where the system cannot say.
UINT WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto fn = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    return fn ? fn(hwnd) : 0;
}

struct Control {
    HWND hwnd;
    HWND parent;
    int depth;
};

// Every descendant in creation order: depth first, each parent before its children.
void Collect(HWND parent, int depth, std::vector<Control>& out) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        out.push_back({child, parent, depth});
        Collect(child, depth + 1, out);
    }
}

std::vector<Control> Controls() {
    std::vector<Control> out;
    Collect(g_main, 1, out);
    return out;
}

std::string Hex(COLORREF c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
    return buffer;
}

void Dump() {
    RequireMain();
    HMONITOR monitor = MonitorFromWindow(g_main, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(monitor, &info);
    Line("#screen\tw\th\twork_x\twork_y\twork_w\twork_h");
    Line("screen\t" + Num(GetSystemMetrics(SM_CXSCREEN)) + "\t" +
         Num(GetSystemMetrics(SM_CYSCREEN)) + "\t" + RectFields(info.rcWork));
    Line("#syscolors\tbtntext\thighlight\tbtnface");
    Line("syscolors\t" + Hex(GetSysColor(COLOR_BTNTEXT)) + "\t" +
         Hex(GetSysColor(COLOR_HIGHLIGHT)) + "\t" + Hex(GetSysColor(COLOR_BTNFACE)));
    Line("#window\tpid\tvisible\tx\ty\tw\th\tclient_x\tclient_y\tclient_w\tclient_h\tdpi\tclass\ttext\twindow_dpi");
    Line("window\t" + Num(PidOf(g_main)) + "\t" + Num(IsWindowVisible(g_main) ? 1 : 0) + "\t" +
         RectFields(ScreenRect(g_main)) + "\t" + RectFields(ClientScreenRect(g_main)) + "\t" +
         Num(SystemDpi()) + "\t" + Field(ClassOf(g_main)) + "\t" + Field(TextOf(g_main)) + "\t" +
         Num(WindowDpi(g_main)));
    Line("#control\tid\tparent_id\tdepth\tclass\tvisible\ttabstop\tstyle\tx\ty\tw\th\tpx\tpy\tpw\tph\ttext");
    for (const Control& c : Controls()) {
        const LONG style = GetWindowLongW(c.hwnd, GWL_STYLE);
        const int parent_id = c.parent == g_main ? 0 : GetDlgCtrlID(c.parent);
        char style_hex[16];
        std::snprintf(style_hex, sizeof style_hex, "%08lX", static_cast<unsigned long>(style));
        Line("control\t" + Num(GetDlgCtrlID(c.hwnd)) + "\t" + Num(parent_id) + "\t" +
             Num(c.depth) + "\t" + Field(ClassOf(c.hwnd)) + "\t" +
             Num(IsWindowVisible(c.hwnd) ? 1 : 0) + "\t" + Num((style & WS_TABSTOP) ? 1 : 0) +
             "\t" + style_hex + "\t" + RectFields(RelativeRect(c.hwnd, g_main)) + "\t" +
             RectFields(RelativeRect(c.hwnd, c.parent)) + "\t" + Field(TextOf(c.hwnd)));
    }
}

// The screen as the user sees it, read once into memory.
class ScreenPixels {
public:
    ScreenPixels() {
        width_ = GetSystemMetrics(SM_CXVIRTUALSCREEN);
        height_ = GetSystemMetrics(SM_CYVIRTUALSCREEN);
        origin_x_ = GetSystemMetrics(SM_XVIRTUALSCREEN);
        origin_y_ = GetSystemMetrics(SM_YVIRTUALSCREEN);
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
        bmi.bmiHeader.biWidth = width_;
        bmi.bmiHeader.biHeight = -height_;  // top-down rows
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP dib = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!dib || !bits) throw ProbeError{"CreateDIBSection failed"};
        HGDIOBJ old = SelectObject(memory, dib);
        const BOOL copied =
            BitBlt(memory, 0, 0, width_, height_, screen, origin_x_, origin_y_, SRCCOPY);
        GdiFlush();
        pixels_.assign(static_cast<const DWORD*>(bits),
                       static_cast<const DWORD*>(bits) + static_cast<std::size_t>(width_) * height_);
        SelectObject(memory, old);
        DeleteObject(dib);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        if (!copied) throw ProbeError{"BitBlt of the screen failed"};
    }

    // 0xRRGGBB of the screen pixel at (x, y), or -1 outside the screen.
    long At(int x, int y) const {
        x -= origin_x_;
        y -= origin_y_;
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return -1;
        return static_cast<long>(pixels_[static_cast<std::size_t>(y) * width_ + x] & 0xFFFFFF);
    }

private:
    int width_, height_, origin_x_, origin_y_;
    std::vector<DWORD> pixels_;
};

long Rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

bool Inside(const RECT& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// Per control: how many pixels of its own area (children's areas excluded, so a frame
// counts only its border and caption) have exactly one of the colours a user can tell
// apart here, and the box around everything that differs from the area's most common
// colour, i.e. the ink of its text, relative to the control.
void Colors() {
    RequireMain();
    const long green = 0x00C000, red = 0xFF0000;
    const long text = Rgb(GetSysColor(COLOR_BTNTEXT));
    const long highlight = Rgb(GetSysColor(COLOR_HIGHLIGHT));
    const ScreenPixels screen;
    const std::vector<Control> controls = Controls();
    Line("#colors\tid\tgreen\tred\ttext\thighlight\tpixels\tbackground\tink_x\tink_y\tink_w\tink_h");
    for (const Control& c : controls) {
        const RECT area = ScreenRect(c.hwnd);
        std::vector<RECT> holes;
        for (const Control& d : controls) {
            if (d.parent == c.hwnd) holes.push_back(ScreenRect(d.hwnd));
        }
        std::map<long, long> histogram;
        long counts[4] = {};
        long pixels = 0;
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) {
                bool in_hole = false;
                for (const RECT& h : holes) in_hole = in_hole || Inside(h, x, y);
                if (in_hole) continue;
                const long p = screen.At(x, y);
                if (p < 0) continue;
                ++pixels;
                ++histogram[p];
                counts[0] += p == green;
                counts[1] += p == red;
                counts[2] += p == text;
                counts[3] += p == highlight;
            }
        }
        long background = -1, most = -1;
        for (const auto& [colour, n] : histogram) {
            if (n > most) most = n, background = colour;
        }
        int x0 = INT_MAX, y0 = INT_MAX, x1 = INT_MIN, y1 = INT_MIN;
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) {
                bool in_hole = false;
                for (const RECT& h : holes) in_hole = in_hole || Inside(h, x, y);
                const long p = screen.At(x, y);
                if (in_hole || p < 0 || p == background) continue;
                x0 = std::min(x0, x), y0 = std::min(y0, y);
                x1 = std::max(x1, x), y1 = std::max(y1, y);
            }
        }
        std::string ink = "0\t0\t0\t0";
        if (x0 <= x1) {
            ink = Num(x0 - area.left) + "\t" + Num(y0 - area.top) + "\t" + Num(x1 - x0 + 1) + "\t" +
                  Num(y1 - y0 + 1);
        }
        char bg[8];
        std::snprintf(bg, sizeof bg, "%06lX", background < 0 ? 0 : background);
        Line("colors\t" + Num(GetDlgCtrlID(c.hwnd)) + "\t" + Num(counts[0]) + "\t" +
             Num(counts[1]) + "\t" + Num(counts[2]) + "\t" + Num(counts[3]) + "\t" + Num(pixels) +
             "\t" + bg + "\t" + ink);
    }
}

// Reads a message box of the program, presses its OK button and waits until it is gone.
// Prints one msgbox line; n counts the boxes this command has seen.
void ReportAndDismiss(HWND box, int n, bool main_visible) {
    std::wstring caption, text;
    bool read = TryTextOf(box, caption);
    read = TryTextOf(GetDlgItem(box, 0xFFFF), text) && read;
    // A box that closes before anyone pressed OK was never read by the user, e.g. one
    // shown after the quit message was posted.
    std::string outcome = "vanished";
    if (read && IsWindow(box)) {
        HWND ok = GetDlgItem(box, IDOK);
        if (!ok) throw ProbeError{"message box without an OK button"};
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(ok, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
        outcome = "ok";
    }
    Line("msgbox\t" + Num(n) + "\t" + Num(main_visible ? 1 : 0) + "\t" + Field(caption) + "\t" +
         Field(text) + "\t" + outcome);
    // Do not count the same box twice while it is being torn down.
    const ULONGLONG gone_by = GetTickCount64() + 5000;
    while (IsWindow(box) && IsWindowVisible(box) && GetTickCount64() < gone_by) Sleep(10);
    if (IsWindow(box) && IsWindowVisible(box)) throw ProbeError{"OK did not close the box"};
}

bool MainVisible(DWORD pid) {
    HWND main = FindMainWindow(pid);
    return main && IsWindowVisible(main);
}

// Until the deadline or the end of the program: every message box of the program is
// reported and dismissed with OK. Whether the main window was visible at any time while
// watching, and when each box appeared, is part of the report: an error report must come
// before the window is ever shown, or after it is gone.
void WatchError(int timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
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

// One box, the next one the program shows, then back to the caller: a box the program
// raises and then carries on from (the registry reader's) is followed by more commands.
void AnswerBox(int timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
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

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
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
    for (HWND hwnd = FindWindowExW(nullptr, nullptr, g_class.c_str(), nullptr); hwnd;
         hwnd = FindWindowExW(nullptr, hwnd, g_class.c_str(), nullptr)) {
        if (PidOf(hwnd) == pid) return hwnd;
    }
    return nullptr;
}

// The time a user waits: from the start of the process to its window on the screen with
// everything painted and the program ready for input. Timed here, around CreateProcess,
// so no shell or Wine start-up of the probe itself is counted.
void Launch(const std::wstring& path, int timeout_ms) {
    if (g_process) throw ProbeError{"launch may be used once per probe run"};
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
    g_process = info.hProcess;
    g_pid = info.dwProcessId;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    HWND hwnd = nullptr;
    for (unsigned polls = 0;; ++polls) {
        hwnd = FindClassWindowOf(g_pid);
        if (hwnd && IsWindowVisible(hwnd)) break;
        if (!Running(g_process)) throw ProbeError{"the program ended without showing its window"};
        if (polls % 64 == 63 && FindMessageBox(g_pid)) {
            throw ProbeError{"a message box appeared instead of the window"};
        }
        if (GetTickCount64() >= deadline) throw ProbeError{"main window not shown in time"};
        Sleep(1);
    }
    QueryPerformanceCounter(&visible);
    const ULONGLONG now = GetTickCount64();
    if (WaitForInputIdle(g_process, now < deadline ? static_cast<DWORD>(deadline - now) : 0) != 0) {
        throw ProbeError{"the program did not become idle in time"};
    }
    QueryPerformanceCounter(&idle);
    g_main = hwnd;
    char times[64];
    std::snprintf(times, sizeof times, "%.3f\t%.3f", Milliseconds(start, visible),
                  Milliseconds(start, idle));
    Line("#launched\tpid\tvisible_ms\tidle_ms");
    Line("launched\t" + Num(g_pid) + "\t" + times);
}

void WaitExit(int timeout_ms) {
    HANDLE process = g_process;
    if (!process) {
        const DWORD pid = FindProgramPid();
        if (pid) process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (!process) {
            Line("exited\t-");
            return;
        }
    }
    const DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(timeout_ms));
    DWORD code = 0;
    const bool got = waited == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
    if (process != g_process) CloseHandle(process);
    if (!got) throw ProbeError{"the program is still running"};
    Line("exited\t" + Num(code));
}

// "HKLM\path" or "HKCU\path" split into a root and the rest.
HKEY ParseKey(const std::wstring& key_name, std::wstring& path) {
    const std::size_t slash = key_name.find(L'\\');
    const std::wstring root = key_name.substr(0, slash);
    path = slash == std::wstring::npos ? L"" : key_name.substr(slash + 1);
    if (lstrcmpiW(root.c_str(), L"HKLM") == 0) return HKEY_LOCAL_MACHINE;
    if (lstrcmpiW(root.c_str(), L"HKCU") == 0) return HKEY_CURRENT_USER;
    throw ProbeError{"unknown registry root in " + Utf8(key_name)};
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c > 0x7F) throw ProbeError{"registry names must be plain ASCII here"};
        out += static_cast<char>(c);
    }
    return out;
}

DWORD ParseType(const std::wstring& name) {
    static const std::map<std::wstring, DWORD> kTypes = {
        {L"REG_SZ", REG_SZ},       {L"REG_EXPAND_SZ", REG_EXPAND_SZ},
        {L"REG_BINARY", REG_BINARY}, {L"REG_DWORD", REG_DWORD},
        {L"REG_MULTI_SZ", REG_MULTI_SZ}};
    const auto found = kTypes.find(name);
    if (found == kTypes.end()) throw ProbeError{"unknown value type " + Utf8(name)};
    return found->second;
}

std::vector<BYTE> ParseHex(const std::wstring& hex) {
    if (hex.size() % 2 != 0) throw ProbeError{"odd number of hex digits"};
    std::vector<BYTE> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const std::wstring pair = hex.substr(i, 2);
        wchar_t* end = nullptr;
        const unsigned long v = std::wcstoul(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2) throw ProbeError{"bad hex digits " + Utf8(pair)};
        bytes.push_back(static_cast<BYTE>(v));
    }
    return bytes;
}

// Exactly these bytes, which `reg add` cannot store: it always ends a string with a NUL.
// The call adds one itself to a string whose next byte in memory is zero, so the buffer
// carries a non-zero byte past the data. Read back through the same ANSI interface the
// program uses, to show what it will see.
void RegSetRaw(const std::wstring& key_spec, const std::wstring& name, const std::wstring& type,
               const std::wstring& hex) {
    std::wstring path;
    const HKEY root = ParseKey(key_spec, path);
    std::vector<BYTE> data = ParseHex(hex);
    const DWORD size = static_cast<DWORD>(data.size());
    data.push_back('X');
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(root, Narrow(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE,
                              nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) throw ProbeError{"cannot open " + Utf8(key_spec) + ": " + Num(rc)};
    const std::string value_name = Narrow(name);
    rc = RegSetValueExA(key, value_name.c_str(), 0, ParseType(type), data.data(), size);
    DWORD stored_type = 0, stored = 0;
    const LONG query = RegQueryValueExA(key, value_name.c_str(), nullptr, &stored_type, nullptr, &stored);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw ProbeError{"RegSetValueExA failed: " + Num(rc)};
    if (query != ERROR_SUCCESS) throw ProbeError{"the value cannot be read back: " + Num(query)};
    Line("#regset\tname\ttype\tansi_size");
    Line("regset\t" + Field(name) + "\t" + Num(stored_type) + "\t" + Num(stored));
}

// An empty access list, not a missing one: a missing list would let everybody in.
void RegDeny(const std::wstring& key_spec) {
    std::wstring path;
    const HKEY root = ParseKey(key_spec, path);
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC, &key);
    if (rc != ERROR_SUCCESS) throw ProbeError{"cannot open " + Utf8(key_spec) + ": " + Num(rc)};
    ACL acl;
    SECURITY_DESCRIPTOR sd;
    const bool built = InitializeAcl(&acl, sizeof acl, ACL_REVISION) &&
                       InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
                       SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
    rc = built ? RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd) : static_cast<LONG>(GetLastError());
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw ProbeError{"RegSetKeySecurity failed: " + Num(rc)};
    // Proof that the program's own open will now be refused.
    rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (rc == ERROR_SUCCESS) {
        RegCloseKey(key);
        throw ProbeError{"the key still opens for reading"};
    }
    Line("denied\t" + Num(rc));
}

void Close() {
    RequireMain();
    if (!PostMessageW(g_main, WM_SYSCOMMAND, SC_CLOSE, 0)) throw ProbeError{"PostMessage failed"};
    Line("closed");
}

void WaitGone(int timeout_ms) {
    RequireMain();
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    while (IsWindow(g_main)) {
        if (GetTickCount64() >= deadline) throw ProbeError{"main window still exists"};
        Sleep(10);
    }
    Line("gone");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    try {
        for (int i = 1; i < argc; ++i) {
            const std::wstring_view arg = argv[i];
            if (arg == L"--exe" && i + 1 < argc) {
                g_exe = argv[++i];
            } else if (arg == L"--class" && i + 1 < argc) {
                g_class = argv[++i];
            } else if (arg == L"wait-shown") {
                WaitShown(ParseMs(argc, argv, i));
            } else if (arg == L"dump") {
                Dump();
            } else if (arg == L"colors") {
                Colors();
            } else if (arg == L"watch-error") {
                WatchError(ParseMs(argc, argv, i));
            } else if (arg == L"close") {
                Close();
            } else if (arg == L"wait-gone") {
                WaitGone(ParseMs(argc, argv, i));
            } else if (arg == L"answer-box") {
                AnswerBox(ParseMs(argc, argv, i));
            } else if (arg == L"launch" && i + 1 < argc) {
                const std::wstring path = argv[++i];
                Launch(path, ParseMs(argc, argv, i));
            } else if (arg == L"wait-exit") {
                WaitExit(ParseMs(argc, argv, i));
            } else if (arg == L"reg-set-raw" && i + 4 < argc) {
                RegSetRaw(argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4]);
                i += 4;
            } else if (arg == L"reg-deny" && i + 1 < argc) {
                RegDeny(argv[++i]);
            } else {
                throw ProbeError{"unknown command " + Utf8(arg)};
            }
        }
    } catch (const ProbeError& e) {
        Line("error\t" + e.why);
        return 2;
    }
    return 0;
}
