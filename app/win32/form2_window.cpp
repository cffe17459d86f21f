#include "app/win32/form2_window.h"

#include <array>
#include <vector>

#include "app/board.h"

#include "platform/win32/system_library.h"
#include "platform/win32/win32_platform.h"

namespace qtk::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"QtkForm2";
constexpr int kFirstControlId = 1000;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

COLORREF Resolve(Colour colour) {
    if (colour & kSystemColourFlag) return GetSysColor(static_cast<int>(colour & 0xFFu));
    return static_cast<COLORREF>(colour);
}

// GetDpiForWindow and AdjustWindowRectExForDpi exist from Windows 10 on; older systems
// get the system DPI and the plain adjustment.
template <typename Fn>
Fn User32Function(const char* name) {
    return qtk::win32::FindExport<Fn>(GetModuleHandleW(L"user32.dll"), name);
}

int SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto get_dpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    const UINT dpi = get_dpi ? get_dpi(hwnd) : 0;
    return dpi ? static_cast<int>(dpi) : SystemDpi();
}

RECT FrameForClient(int width, int height, int dpi) {
    RECT rect{0, 0, width, height};
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, kWindowStyle, FALSE, 0, static_cast<UINT>(dpi))) {
        AdjustWindowRectEx(&rect, kWindowStyle, FALSE, 0);
    }
    return rect;
}

// A font can come back as a face that lacks the glyphs we draw (under Wine, "MS Sans
// Serif" with the Thai character set becomes a fallback with neither Latin nor Thai), so
// ask the font itself whether it covers a Latin and a Thai letter.
bool CoversLatinAndThai(HFONT font) {
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return false;
    HGDIOBJ old = SelectObject(dc, font);
    WORD glyphs[2] = {0, 0};
    const DWORD converted =
        GetGlyphIndicesW(dc, L"A\u0E01", 2, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    DeleteDC(dc);
    return converted == 2 && glyphs[0] != 0xFFFF && glyphs[1] != 0xFFFF;
}

Failure LastError(const wchar_t* action, std::wstring subject) {
    return Failure{GetLastError(), action, std::move(subject)};
}

std::wstring WideName(std::string_view name) { return std::wstring(name.begin(), name.end()); }

}  // namespace

class Form2Window::Win32Label : public StatusLabel {
public:
    Win32Label(Form2Window& owner, HWND hwnd, std::string name)
        : owner_(owner), hwnd_(hwnd), name_(std::move(name)) {}

    void SetForeColor(Colour colour) override {
        owner_.colours_[hwnd_] = colour;
        if (!InvalidateRect(hwnd_, nullptr, TRUE)) {
            throw LastError(L"Cannot repaint the label", WideName(name_));
        }
    }

    void SetCaption(std::wstring_view text) override {
        const std::wstring caption(text);
        if (!SetWindowTextW(hwnd_, caption.c_str())) {
            throw LastError(L"Cannot write the label", WideName(name_));
        }
    }

    // Kept, not shown: the tooltip and the copy take it from here once Load is over.
    void SetReason(std::wstring_view text) override { reason_ = text; }

    HWND Handle() const { return hwnd_; }
    const std::wstring& Reason() const { return reason_; }

private:
    Form2Window& owner_;
    HWND hwnd_;
    std::string name_;
    std::wstring reason_;
};

Form2Window::Form2Window(HINSTANCE instance, const Platform& platform)
    : form_(platform, *this) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &Form2Window::WndProc;
    window_class.hInstance = instance;
    window_class.hIcon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    window_class.hIconSm = static_cast<HICON>(LoadImageW(
        instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
        GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&window_class)) {
        throw LastError(L"Cannot register the window class", kWindowClass);
    }

    // Created at its final size but hidden; it is placed and shown after Load.
    const int dpi = SystemDpi();
    const RECT frame = FrameForClient(TwipsToPixels(kClientWidthTwips, dpi),
                                      TwipsToPixels(kClientHeightTwips, dpi), dpi);
    const std::wstring caption(kWindowCaption);
    hwnd_ = CreateWindowExW(0, kWindowClass, caption.c_str(), kWindowStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                            nullptr, nullptr, instance, this);
    if (!hwnd_) {
        if (pending_) std::rethrow_exception(pending_);
        throw LastError(L"Cannot create the window", caption);
    }
}

Form2Window::~Form2Window() {
    if (hwnd_) {
        // Torn down after a failed Load: detach first, so that WM_DESTROY posts no quit
        // message, which would close the error report the moment it opened.
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    if (label_font_) DeleteObject(label_font_);
    if (frame_font_) DeleteObject(frame_font_);
}

StatusLabel& Form2Window::Label(std::string_view name) {
    const auto found = labels_.find(name);
    if (found == labels_.end()) {
        throw Failure{ERROR_INVALID_PARAMETER, L"The window has no label", WideName(name)};
    }
    return *found->second;
}

void Form2Window::LoadAndShow() {
    form_.Load();
    AddExtras();

    // Centre on the screen the window is on, at the size its DPI asks for.
    RECT rect{};
    GetWindowRect(hwnd_, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& screen = monitor.rcMonitor;
    const int x = screen.left + (screen.right - screen.left - width) / 2;
    const int y = screen.top + (screen.bottom - screen.top - height) / 2;
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
}

void Form2Window::RunUntilClosed() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    hwnd_ = nullptr;
    if (pending_) std::rethrow_exception(pending_);
}

LRESULT CALLBACK Form2Window::WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        auto* self = static_cast<Form2Window*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Form2Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wparam, lparam);
    return self->HandleMessage(message, wparam, lparam);
}

LRESULT Form2Window::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            // No exception may unwind through the system's code: keep it for the caller.
            try {
                OnCreate();
            } catch (...) {
                pending_ = std::current_exception();
                return -1;
            }
            return 0;
        case WM_CTLCOLORSTATIC:
            return OnLabelColour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
        case WM_SYSCOMMAND:
            if ((wparam & 0xFFF0) == kCopyResultsCommand) {
                CopyResults();
                return 0;
            }
            return DefWindowProcW(hwnd_, message, wparam, lparam);
        case WM_MOUSEMOVE:
            OnFirstMouseMove(wparam, lparam);
            return DefWindowProcW(hwnd_, message, wparam, lparam);
        case WM_GETOBJECT:
            NameLabels();
            return DefWindowProcW(hwnd_, message, wparam, lparam);
        case WM_KEYDOWN:
            // Not with Alt: Ctrl+Alt is AltGr on many keyboards, which types characters.
            if (wparam == 'C' && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0) {
                CopyResults();
                return 0;
            }
            return DefWindowProcW(hwnd_, message, wparam, lparam);
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_DESTROY:
            names_.ClearAll();
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd_, message, wparam, lparam);
    }
}

// Frames are system group boxes; their labels ask them, not the window, for colours.
LRESULT CALLBACK Form2Window::FrameProc(HWND hwnd, UINT message, WPARAM wparam,
                                        LPARAM lparam) {
    auto* self = reinterpret_cast<Form2Window*>(GetWindowLongPtrW(GetParent(hwnd), GWLP_USERDATA));
    if (self && message == WM_CTLCOLORSTATIC) {
        return self->OnLabelColour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    }
    if (self && message == WM_GETOBJECT) self->NameLabels();
    const auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return CallWindowProcW(original, hwnd, message, wparam, lparam);
}

// Status labels stay system statics; only an assistive tool's first question is noticed,
// so that their names are in place before it reads one.
LRESULT CALLBACK Form2Window::StatusLabelProc(HWND hwnd, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
    if (message == WM_GETOBJECT) {
        HWND frame = GetParent(hwnd);
        auto* self = frame ? reinterpret_cast<Form2Window*>(
                                 GetWindowLongPtrW(GetParent(frame), GWLP_USERDATA))
                           : nullptr;
        if (self) self->NameLabels();
    }
    const auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return CallWindowProcW(original, hwnd, message, wparam, lparam);
}

HFONT Form2Window::MakeFont(int weight) const {
    static constexpr std::array<const wchar_t*, 6> kFaces = {
        L"MS Sans Serif", L"Tahoma", L"Microsoft Sans Serif", L"Leelawadee UI", L"Leelawadee",
        L"Loma"};
    // 8.25 pt is exactly 11 pixels at 96 DPI. Rounding down elsewhere keeps the text
    // within labels sized for it: at 144 DPI a 17-pixel font would overflow them.
    const int height = -(kFontCentiPoints * dpi_ / 7200);
    HFONT first = nullptr;
    for (const wchar_t* face : kFaces) {
        HFONT font = CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, kThaiCharset,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH | FF_DONTCARE, face);
        if (!font) continue;
        if (CoversLatinAndThai(font)) {
            if (first) DeleteObject(first);
            return font;
        }
        if (!first) {
            first = font;
        } else {
            DeleteObject(font);
        }
    }
    // Nothing covers both: keep the face the layout names rather than draw nothing.
    if (!first) throw LastError(L"Cannot create the window font", std::wstring(kFontFace));
    return first;
}

void Form2Window::OnCreate() {
    dpi_ = WindowDpi(hwnd_);
    label_font_ = MakeFont(FW_NORMAL);
    frame_font_ = MakeFont(FW_BOLD);
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));

    std::map<std::string, HWND, std::less<>> frames;
    int id = kFirstControlId;
    for (const Control& control : WindowLayout()) {
        const bool is_frame = control.kind == ControlKind::Frame;
        HWND parent = hwnd_;
        if (!is_frame) {
            const auto frame = frames.find(control.parent);
            if (frame == frames.end()) {
                throw Failure{ERROR_INVALID_PARAMETER, L"The layout names no such frame",
                              WideName(control.parent)};
            }
            parent = frame->second;
        }
        DWORD style = WS_CHILD | WS_VISIBLE;
        style |= is_frame ? (BS_GROUPBOX | WS_CLIPSIBLINGS)
                          : (SS_NOPREFIX | (control.align == Align::Centre ? SS_CENTER : SS_LEFT));
        HWND child = CreateWindowExW(0, is_frame ? L"BUTTON" : L"STATIC", control.caption.c_str(),
                                     style, Px(control.left), Px(control.top), Px(control.width),
                                     Px(control.height), parent,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), instance,
                                     nullptr);
        if (!child) throw LastError(L"Cannot create the control", WideName(control.name));
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(is_frame ? frame_font_ : label_font_),
                     FALSE);
        colours_[child] = control.colour;
        if (is_frame) {
            frames.emplace(control.name, child);
            // The group box's own procedure stays reachable from the frame itself, so it
            // keeps working while the window is torn down.
            SetWindowLongPtrW(child, GWLP_USERDATA,
                              GetWindowLongPtrW(child, GWLP_WNDPROC));
            SetWindowLongPtrW(child, GWLP_WNDPROC,
                              reinterpret_cast<LONG_PTR>(&Form2Window::FrameProc));
        } else if (control.kind == ControlKind::StatusLabel) {
            labels_.emplace(control.name, std::make_unique<Win32Label>(*this, child, control.name));
            SetWindowLongPtrW(child, GWLP_USERDATA, GetWindowLongPtrW(child, GWLP_WNDPROC));
            SetWindowLongPtrW(child, GWLP_WNDPROC,
                              reinterpret_cast<LONG_PTR>(&Form2Window::StatusLabelProc));
        }
    }
}

void Form2Window::OnClose() {
    std::int16_t cancel = 0;
    try {
        form_.Unload(cancel);
    } catch (...) {
        // Reported once the window is gone: a box shown from here would sit on top of a
        // window the user has already closed.
        pending_ = std::current_exception();
    }
    // The close is never refused, whatever Unload left in the flag.
    DestroyWindow(hwnd_);
}

void Form2Window::AddExtras() {
    loaded_ = true;
    if (HMENU menu = GetSystemMenu(hwnd_, FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kCopyResultsCommand, L"Copy results\tCtrl+C");
    }
}

// The tooltip and its DLL wait for the mouse, and the names for the first assistive tool
// that asks: neither costs the launch anything, and a run nobody hovers over or reads
// with a screen reader never loads them.
void Form2Window::OnFirstMouseMove(WPARAM wparam, LPARAM lparam) {
    if (tips_added_ || !loaded_) return;
    tips_added_ = true;
    for (const StatusPlace& place : StatusPlaces()) {
        const auto found = labels_.find(place.label);
        if (found == labels_.end() || found->second->Reason().empty()) continue;
        const HWND hwnd = found->second->Handle();
        tips_.Add(hwnd_, hwnd, static_cast<UINT>(GetDlgCtrlID(hwnd)), found->second->Reason());
    }
    // This move came before the tooltip was listening.
    MSG move{hwnd_, WM_MOUSEMOVE, wparam, lparam, 0, {}};
    tips_.Relay(move);
}

void Form2Window::NameLabels() {
    // A registry message box during Load lets messages in: a name given then would say
    // "-" for every word for good.
    if (names_added_ || !loaded_) return;
    names_added_ = true;
    for (const StatusPlace& place : StatusPlaces()) {
        const auto found = labels_.find(place.label);
        if (found == labels_.end()) continue;
        const HWND hwnd = found->second->Handle();
        wchar_t word[64] = {};
        GetWindowTextW(hwnd, word, 64);
        names_.Annotate(hwnd, AccessibleName(place, word), found->second->Reason());
    }
}

// What the board shows now, read off its own labels, with the reasons behind the words.
void Form2Window::CopyResults() {
    const auto text_of = [](HWND hwnd) {
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(),
                                                            static_cast<int>(text.size()))));
        return text;
    };
    std::vector<StatusResult> results;
    for (const StatusPlace& place : StatusPlaces()) {
        const auto found = labels_.find(place.label);
        if (found == labels_.end()) continue;
        results.push_back({&place, text_of(found->second->Handle()), found->second->Reason()});
    }
    const auto identity = [&](const char* name) {
        const auto found = labels_.find(std::string_view(name));
        return found == labels_.end() ? std::wstring() : text_of(found->second->Handle());
    };
    const std::wstring text =
        BoardText(text_of(hwnd_), identity("comname"), identity("os"), results);
    // All or nothing: a failed copy leaves the clipboard as it was and says so by a beep.
    if (!PutOnClipboard(hwnd_, text)) MessageBeep(MB_ICONWARNING);
}

LRESULT Form2Window::OnLabelColour(HDC dc, HWND control) {
    const auto colour = colours_.find(control);
    SetTextColor(dc, Resolve(colour != colours_.end() ? colour->second : kButtonTextColour));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

}  // namespace qtk::win32
