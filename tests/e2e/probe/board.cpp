// The board as a user sees it: every control with its rectangle and text, and the colours
// actually on the screen.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>

#include "board.h"

namespace probe {
namespace {

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

// Every descendant in creation order: depth first, each parent before its children.
void Collect(HWND parent, int depth, std::vector<Control>& out) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        out.push_back({child, parent, depth});
        Collect(child, depth + 1, out);
    }
}

bool Inside(const RECT& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}  // namespace

std::vector<Control> Controls() {
    std::vector<Control> out;
    Collect(TheTarget().main, 1, out);
    return out;
}

long Rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

std::vector<DWORD> BoardPixels::Capture() const {
    const int width = area_.right - area_.left, height = area_.bottom - area_.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;  // top-down rows
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib || !bits) throw ProbeError{"CreateDIBSection failed"};
    HGDIOBJ old = SelectObject(memory, dib);
    const BOOL copied = BitBlt(memory, 0, 0, width, height, screen, area_.left, area_.top, SRCCOPY);
    GdiFlush();
    std::vector<DWORD> pixels(static_cast<const DWORD*>(bits),
                              static_cast<const DWORD*>(bits) + static_cast<std::size_t>(width) * height);
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied) throw ProbeError{"BitBlt of the board failed"};
    for (DWORD& p : pixels) p &= 0xFFFFFF;
    return pixels;
}

// Whether every label with a caption shows some ink: the program paints before it goes
// idle, but its pixels reach the screen a little later.
bool BoardPixels::LabelsInked() const {
    for (const Control& c : Controls()) {
        std::wstring text;
        if (lstrcmpiW(ClassOf(c.hwnd).c_str(), L"Static") != 0 || !TryTextOf(c.hwnd, text) ||
            text.find_first_not_of(L" ") == std::wstring::npos) {
            continue;
        }
        const RECT r = ClientScreenRect(c.hwnd);
        const long first = At(r.left, r.top);
        bool inked = false;
        for (int y = r.top; y < r.bottom && !inked; ++y) {
            for (int x = r.left; x < r.right && !inked; ++x) inked = At(x, y) != first;
        }
        if (!inked) return false;
    }
    return true;
}

// Only the board's own rectangle is copied, only while nothing covers it, and only once
// its pixels have settled: painted, and the same in two copies in a row.
BoardPixels::BoardPixels() {
    const ULONGLONG deadline = Deadline(15000);
    for (;;) {
        RequireUncovered(static_cast<int>(MsLeft(deadline)));
        area_ = ScreenRect(TheTarget().main);
        std::vector<DWORD> copy = Capture();
        const bool settled = copy == pixels_ && LabelsInked();
        pixels_ = std::move(copy);
        if (settled) break;
        if (GetTickCount64() >= deadline) throw ProbeError{"the board's pixels never settled"};
        Sleep(50);
    }
    // Covered while we copied it: the copy may hold the other window's pixels.
    RequireUncovered(0);
}

long BoardPixels::At(int x, int y) const {
    if (!Inside(area_, x, y)) return -1;
    const int width = area_.right - area_.left;
    return static_cast<long>(pixels_[static_cast<std::size_t>(y - area_.top) * width + (x - area_.left)]);
}

// dump: the main window and every descendant control.
void Dump(const Args&) {
    RequireMain();
    const HWND main = TheTarget().main;
    HMONITOR monitor = MonitorFromWindow(main, MONITOR_DEFAULTTONEAREST);
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
    Line("window\t" + Num(PidOf(main)) + "\t" + Num(IsWindowVisible(main) ? 1 : 0) + "\t" +
         RectFields(ScreenRect(main)) + "\t" + RectFields(ClientScreenRect(main)) + "\t" +
         Num(SystemDpi()) + "\t" + Field(ClassOf(main)) + "\t" + Field(TextOf(main)) + "\t" +
         Num(WindowDpi(main)));
    Line("#control\tid\tparent_id\tdepth\tclass\tvisible\ttabstop\tstyle\tx\ty\tw\th\tpx\tpy\tpw\tph\ttext");
    for (const Control& c : Controls()) {
        const LONG style = GetWindowLongW(c.hwnd, GWL_STYLE);
        const int parent_id = c.parent == main ? 0 : GetDlgCtrlID(c.parent);
        char style_hex[16];
        std::snprintf(style_hex, sizeof style_hex, "%08lX", static_cast<unsigned long>(style));
        Line("control\t" + Num(GetDlgCtrlID(c.hwnd)) + "\t" + Num(parent_id) + "\t" +
             Num(c.depth) + "\t" + Field(ClassOf(c.hwnd)) + "\t" +
             Num(IsWindowVisible(c.hwnd) ? 1 : 0) + "\t" + Num((style & WS_TABSTOP) ? 1 : 0) +
             "\t" + style_hex + "\t" + RectFields(RelativeRect(c.hwnd, main)) + "\t" +
             RectFields(RelativeRect(c.hwnd, c.parent)) + "\t" + Field(TextOf(c.hwnd)));
    }
}

// colors: per control, how many pixels of its own area (children's areas excluded, so a
// frame counts only its border and caption) have exactly one of the colours a user can
// tell apart here, and the box around everything that differs from the area's most
// common colour, i.e. the ink of its text, relative to the control.
void Colors(const Args&) {
    RequireMain();
    const long green = 0x00C000, red = 0xFF0000;
    const long text = Rgb(GetSysColor(COLOR_BTNTEXT));
    const long highlight = Rgb(GetSysColor(COLOR_HIGHLIGHT));
    const BoardPixels screen;
    const std::vector<Control> controls = Controls();
    Line("#colors\tid\tgreen\tred\ttext\thighlight\tpixels\tbackground\tink_x\tink_y\tink_w\tink_h");
    for (const Control& c : controls) {
        const RECT area = ScreenRect(c.hwnd);
        std::vector<RECT> holes;
        for (const Control& d : controls) {
            if (d.parent == c.hwnd) holes.push_back(ScreenRect(d.hwnd));
        }
        const auto in_hole = [&](int x, int y) {
            return std::any_of(holes.begin(), holes.end(),
                               [&](const RECT& h) { return Inside(h, x, y); });
        };
        std::map<long, long> histogram;
        long counts[4] = {};
        long pixels = 0;
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) {
                const long p = screen.At(x, y);
                if (p < 0 || in_hole(x, y)) continue;
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
                const long p = screen.At(x, y);
                if (p < 0 || p == background || in_hole(x, y)) continue;
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

}  // namespace probe
