// What the board offers beyond its paint: the tooltip on a status word, the results on
// the clipboard, and the names an assistive tool reads.
#include "board.h"
#include "probe.h"

#include <commctrl.h>
#include <initguid.h>
#include <oleacc.h>

namespace probe {
namespace {

// The program's own "Copy results" item in its window menu.
constexpr UINT kCopyResultsCommand = 0x0110;

HWND ControlById(int id) {
    RequireMain();
    for (const Control& c : Controls()) {
        if (GetDlgCtrlID(c.hwnd) == id) return c.hwnd;
    }
    throw ProbeError{"no control with id " + Num(id)};
}

struct TipSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTip(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<TipSearch*>(lp);
    if (PidOf(hwnd) == search->pid && lstrcmpiW(ClassOf(hwnd).c_str(), L"tooltips_class32") == 0)
        search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TooltipsOfProgram() {
    TipSearch search{PidOf(TheTarget().main), {}};
    EnumWindows(CollectTip, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int Number(const std::wstring& text) {
    wchar_t* end = nullptr;
    const long v = std::wcstol(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0') throw ProbeError{"not a number: " + Utf8(text)};
    return static_cast<int>(v);
}

// A mouse move as the hardware would report it. SetCursorPos is not enough: Wine drops
// the motion its own pointer warps cause, so no window would hear of the move.
void MoveMouse(int x, int y) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    if (SendInput(1, &input, sizeof input) != 1) throw ProbeError{"SendInput (mouse) failed"};
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* locked = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = locked;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

}  // namespace

// tips: how many tooltip controls the program has and how many tools they hold.
void Tips(const Args&) {
    RequireMain();
    long tools = 0;
    const std::vector<HWND> tips = TooltipsOfProgram();
    for (HWND tip : tips) {
        DWORD_PTR count = 0;
        SendMessageTimeoutW(tip, TTM_GETTOOLCOUNT, 0, 0, SMTO_NORMAL, 15000, &count);
        tools += static_cast<long>(count);
    }
    Line("#tips\ttooltip_windows\ttools");
    Line("tips\t" + Num(static_cast<long long>(tips.size())) + "\t" + Num(tools));
}

// hover ID MS: the mouse moves onto the centre of control ID, as a user's would, and the
// text of the program's tooltip is read once it shows (WM_GETTEXT gives the tooltip's
// current text). Prints "tip ID shown text"; shown is 0 when none appeared in MS.
void Hover(const Args& args) {
    const int id = Number(args[0]);
    const HWND control = ControlById(id);
    RequireUncovered(5000);
    SetForegroundWindow(TheTarget().main);
    const RECT r = ScreenRect(control);
    const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
    // Off the board first, so that arriving on the word is a move the tooltip sees.
    const RECT board = ScreenRect(TheTarget().main);
    MoveMouse(board.left > 5 ? board.left - 5 : 0, board.top);
    MoveMouse(x - 2, y);
    MoveMouse(x, y);
    const ULONGLONG deadline = Deadline(Milliseconds(args[1]));
    std::wstring text;
    bool shown = false;
    // Then the mouse rests: every move restarts the tooltip's wait before it shows.
    while (!shown) {
        for (HWND tip : TooltipsOfProgram()) {
            if (IsWindowVisible(tip) && TryTextOf(tip, text) && !text.empty()) shown = true;
        }
        if (shown || GetTickCount64() >= deadline) break;
        Sleep(30);
    }
    // Off the board again, so the tooltip goes and covers nothing a later command reads.
    MoveMouse(0, 0);
    const ULONGLONG hidden_by = Deadline(10000);
    for (bool visible = true; visible && GetTickCount64() < hidden_by;) {
        visible = false;
        for (HWND tip : TooltipsOfProgram()) visible = visible || IsWindowVisible(tip);
        if (visible) Sleep(30);
    }
    Line("#tip\tid\tshown\ttext");
    Line("tip\t" + Num(id) + "\t" + Num(shown ? 1 : 0) + "\t" + Field(shown ? text : L""));
}

// clipboard-clear: empties the clipboard, so that what is read later is new.
void ClipboardClear(const Args&) {
    if (!OpenClipboard(nullptr)) throw ProbeError{"cannot open the clipboard"};
    EmptyClipboard();
    CloseClipboard();
    Line("clipboard-cleared");
}

// copy-key: Ctrl+C typed on the board, as a user would.
void CopyKey(const Args&) {
    RequireMain();
    SetForegroundWindow(TheTarget().main);
    INPUT keys[4] = {};
    const WORD vk[4] = {VK_CONTROL, 'C', 'C', VK_CONTROL};
    for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = vk[i];
        keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
    }
    if (SendInput(4, keys, sizeof(INPUT)) != 4) throw ProbeError{"SendInput failed"};
    Line("typed\tctrl+c");
}

// copy-menu: the window menu's "Copy results", chosen as the menu would send it.
void CopyMenu(const Args&) {
    RequireMain();
    if (!PostMessageW(TheTarget().main, WM_SYSCOMMAND, kCopyResultsCommand, 0))
        throw ProbeError{"PostMessage failed"};
    Line("chose\tcopy-results");
}

// clipboard MS: waits until the clipboard holds Unicode text, then prints it.
void Clipboard(const Args& args) {
    const ULONGLONG deadline = Deadline(Milliseconds(args[0]));
    std::wstring text;
    while ((text = ClipboardText()).empty()) {
        if (GetTickCount64() >= deadline) throw ProbeError{"no text on the clipboard in time"};
        Sleep(20);
    }
    Line("clipboard\t" + Field(text));
}

// acc-names: every control's accessible name and description, read through the system's
// accessibility interface as an assistive tool would.
void AccNames(const Args&) {
    RequireMain();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Line("#acc\tid\tname\tdescription");
    for (const Control& c : Controls()) {
        IAccessible* acc = nullptr;
        if (FAILED(AccessibleObjectFromWindow(c.hwnd, static_cast<DWORD>(OBJID_CLIENT),
                                              IID_IAccessible, reinterpret_cast<void**>(&acc))) ||
            !acc) {
            Line("acc\t" + Num(GetDlgCtrlID(c.hwnd)) + "\t!\t!");
            continue;
        }
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr, description = nullptr;
        const bool has_name = SUCCEEDED(acc->get_accName(self, &name)) && name;
        const bool has_description = SUCCEEDED(acc->get_accDescription(self, &description)) && description;
        Line("acc\t" + Num(GetDlgCtrlID(c.hwnd)) + "\t" + (has_name ? Field(name) : "") + "\t" +
             (has_description ? Field(description) : ""));
        if (name) SysFreeString(name);
        if (description) SysFreeString(description);
        acc->Release();
    }
    CoUninitialize();
}

}  // namespace probe
