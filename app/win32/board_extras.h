// What the board offers beyond its painted words, without changing a pixel of it: the
// marker's reason on hover, the results on the clipboard and names a screen reader can
// place. Each part loads what it needs from System32 only when there is work for it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace qtk::win32 {

// The window menu's "Copy results" item; below 0xF000, low four bits clear, as the
// system commands' own are.
inline constexpr UINT kCopyResultsCommand = 0x0110;

// One tooltip control for the whole board. Tools are rectangles of the main window's
// client area: the labels and frames let the mouse through (HTTRANSPARENT), so the main
// window is the one that sees it move.
class ReasonTips {
public:
    ReasonTips() = default;
    ~ReasonTips();
    ReasonTips(const ReasonTips&) = delete;
    ReasonTips& operator=(const ReasonTips&) = delete;

    // Shows text while the mouse rests on label. The tooltip is created on the first call;
    // false when the system cannot give one (the board then simply has none).
    bool Add(HWND owner, HWND label, UINT id, const std::wstring& text);
    // Hands the tooltip a message it missed (none without a tooltip).
    void Relay(MSG& message);

private:
    bool Create(HWND owner);
    HWND tip_ = nullptr;
    bool failed_ = false;
};

// Puts text on the clipboard as CF_UNICODETEXT. False (with nothing half-done left on
// the clipboard) when the clipboard cannot be had.
bool PutOnClipboard(HWND owner, std::wstring_view text);

// Names (and descriptions) for labels through the system's direct annotation of their
// standard accessible objects, so nothing painted changes. Holds the service for the
// window's life; each call is a no-op where the service is missing.
class AccessibleNames {
public:
    AccessibleNames() = default;
    ~AccessibleNames();
    AccessibleNames(const AccessibleNames&) = delete;
    AccessibleNames& operator=(const AccessibleNames&) = delete;

    // Returns the HRESULT of the name's annotation (the description's is not separate:
    // a label without a reason gets none).
    long Annotate(HWND label, const std::wstring& name, const std::wstring& description);
    // Drops every annotation made, while the labels still exist.
    void ClearAll();

private:
    bool Start();
    void* services_ = nullptr;  // IAccPropServices*
    HMODULE oleacc_ = nullptr;
    bool failed_ = false;
    bool com_initialised_ = false;
    std::vector<HWND> labels_;
};

}  // namespace qtk::win32
