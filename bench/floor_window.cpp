// The floors the launch benchmark compares the diagnostic against.
//
// floor_window: what any program pays to put a window of the same size on the screen. It
// registers a class, opens an empty window with the diagnostic's frame style and client
// size, centred, and waits to be closed.
//
// floor_controls (built with QTK_FLOOR_CONTROLS): the same window holding the same five
// group boxes and 68 static labels with their captions, in the system's default font:
// what the window system charges for the controls the board must have as real, readable
// child windows, without any of the diagnostic's own work (font choice, colours, reading
// the registry and the marker files).
#include <windows.h>

#include <map>
#include <string>

#include "app/layout.h"

namespace {

constexpr wchar_t kClass[] = L"QtkFloor";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

LRESULT CALLBACK FloorProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = FloorProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kClass;
    if (!RegisterClassExW(&window_class)) return 1;

    // The same arithmetic as the diagnostic, so both windows cover the same pixels.
    const int dpi = ScreenDpi();
    RECT frame{0, 0, MulDiv(qtk::kClientWidthTwips, dpi, qtk::kTwipsPerInch),
               MulDiv(qtk::kClientHeightTwips, dpi, qtk::kTwipsPerInch)};
    AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    HWND hwnd = CreateWindowExW(0, kClass, L"Launch floor", kStyle, x, y, width, height, nullptr,
                                nullptr, instance, nullptr);
    if (!hwnd) return 1;
#ifdef QTK_FLOOR_CONTROLS
    std::map<std::string, HWND> frames;
    for (const qtk::Control& control : qtk::WindowLayout()) {
        const bool is_frame = control.kind == qtk::ControlKind::Frame;
        const auto px = [dpi](int twips) { return MulDiv(twips, dpi, qtk::kTwipsPerInch); };
        HWND child = CreateWindowExW(
            0, is_frame ? L"BUTTON" : L"STATIC", control.caption.c_str(),
            WS_CHILD | WS_VISIBLE | (is_frame ? BS_GROUPBOX : SS_LEFT), px(control.left),
            px(control.top), px(control.width), px(control.height),
            is_frame ? hwnd : frames[control.parent], nullptr, instance, nullptr);
        if (!child) return 1;
        if (is_frame) frames[control.name] = child;
    }
#endif
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
