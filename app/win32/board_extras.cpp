#include "app/win32/board_extras.h"

#include <commctrl.h>
#include <initguid.h>
#include <oleacc.h>

#include <cstring>

#include "platform/win32/system_library.h"

namespace qtk::win32 {
namespace {

// comctl32 and oleacc are not KnownDLLs: a copy beside the program would be loaded
// before the system's, so they come from System32 only (LoadSystemLibrary).
template <typename Fn>
Fn Function(HMODULE module, const char* name) {
    return FindExport<Fn>(module, name);
}

// A reason can be a few hundred characters: wrapped at about 40 ems, not one line across
// the screen.
constexpr int kTipWidthTwips = 6000;

}  // namespace

// ---- the reason on hover --------------------------------------------------------------

ReasonTips::~ReasonTips() {
    if (tip_ && IsWindow(tip_)) DestroyWindow(tip_);
}

// Without a manifest dependency on Common Controls 6 this is the classic control of
// comctl32 5.8: a manifest would bring visual styles, and a themed group box ignores the
// caption colour the board must keep. The classic tooltip is all that is needed here.
// Tooltip controls: https://learn.microsoft.com/en-us/windows/win32/controls/tooltip-controls
bool ReasonTips::Create(HWND owner) {
    HMODULE comctl = LoadSystemLibrary(L"comctl32.dll");
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = Function<InitFn>(comctl, "InitCommonControlsEx");
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    if (!init || !init(&controls)) return false;
    // TTS_NOPREFIX: an '&' in a reason is shown, not taken for a mnemonic. Owned by the
    // board, so it goes with it and never takes the focus.
    tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                           WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                           reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE)),
                           nullptr);
    if (!tip_) return false;
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, MulDiv(kTipWidthTwips, dpi, 1440));
    return true;
}

bool ReasonTips::Add(HWND owner, HWND label, UINT id, const std::wstring& text) {
    if (failed_) return false;
    if (!tip_ && !Create(owner)) {
        failed_ = true;
        return false;
    }
    RECT rect{};
    GetWindowRect(label, &rect);
    MapWindowPoints(nullptr, owner, reinterpret_cast<POINT*>(&rect), 2);
    TTTOOLINFOW tool{};
    // The size comctl32 5.8 knows; the version 6 structure is longer and 5.8 refuses it.
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = id;
    tool.rect = rect;
    tool.lpszText = const_cast<wchar_t*>(text.c_str());  // copied by the control
    return SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) != FALSE;
}

void ReasonTips::Relay(MSG& message) {
    if (tip_) SendMessageW(tip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&message));
}

// ---- the clipboard --------------------------------------------------------------------

// Using the Clipboard: https://learn.microsoft.com/en-us/windows/win32/dataxchg/using-the-clipboard
// The memory handed to SetClipboardData belongs to the system afterwards; only when the
// call fails is it still ours to free.
bool PutOnClipboard(HWND owner, std::wstring_view text) {
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) return false;
    if (void* locked = GlobalLock(memory)) {
        std::memcpy(locked, text.data(), text.size() * sizeof(wchar_t));
        static_cast<wchar_t*>(locked)[text.size()] = L'\0';
        GlobalUnlock(memory);
    } else {
        GlobalFree(memory);
        return false;
    }
    // Another program may hold the clipboard for a moment.
    bool opened = false;
    for (int attempt = 0; attempt < 10 && !opened; ++attempt) {
        opened = OpenClipboard(owner) != FALSE;
        if (!opened) Sleep(20);
    }
    if (!opened) {
        GlobalFree(memory);
        return false;
    }
    bool placed = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory);
    if (!placed) GlobalFree(memory);
    CloseClipboard();
    return placed;
}

// ---- accessible names -----------------------------------------------------------------

// Dynamic annotation, direct: IAccPropServices::SetHwndPropStr gives the label's standard
// accessible object (OBJID_CLIENT, CHILDID_SELF) another Name while the control itself,
// and so what it paints, stays as it is.
// https://learn.microsoft.com/en-us/windows/win32/winauto/dynamic-annotation-api
// https://learn.microsoft.com/en-us/windows/win32/api/oleacc/nf-oleacc-iaccpropservices-sethwndpropstr
// The object is had from oleacc's own class factory, so COM never looks the class up in
// the registry and the DLL comes from System32.
bool AccessibleNames::Start() {
    oleacc_ = LoadSystemLibrary(L"oleacc.dll");
    // The service is an apartment object; oleacc has ole32 loaded already, so asking it
    // for CoInitializeEx costs nothing more. S_FALSE (already initialised) counts too.
    using CoInitializeExFn = HRESULT(WINAPI*)(void*, DWORD);
    const auto co_init = Function<CoInitializeExFn>(oleacc_ ? LoadSystemLibrary(L"ole32.dll") : nullptr,
                                                    "CoInitializeEx");
    if (!co_init || FAILED(co_init(nullptr, COINIT_APARTMENTTHREADED))) return false;
    com_initialised_ = true;
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get_class = Function<GetClassObjectFn>(oleacc_, "DllGetClassObject");
    IClassFactory* factory = nullptr;
    if (!get_class ||
        FAILED(get_class(CLSID_AccPropServices, IID_IClassFactory,
                         reinterpret_cast<void**>(&factory)))) {
        return false;
    }
    IAccPropServices* services = nullptr;
    const HRESULT created = factory->CreateInstance(nullptr, IID_IAccPropServices,
                                                    reinterpret_cast<void**>(&services));
    factory->Release();
    if (FAILED(created) || !services) return false;
    services_ = services;
    return true;
}

long AccessibleNames::Annotate(HWND label, const std::wstring& name,
                               const std::wstring& description) {
    if (failed_) return E_FAIL;
    if (!services_ && !Start()) {
        failed_ = true;
        return E_FAIL;
    }
    auto* services = static_cast<IAccPropServices*>(services_);
    const HRESULT named = services->SetHwndPropStr(label, static_cast<DWORD>(OBJID_CLIENT),
                                                   CHILDID_SELF, PROPID_ACC_NAME, name.c_str());
    if (!description.empty()) {
        services->SetHwndPropStr(label, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                 PROPID_ACC_DESCRIPTION, description.c_str());
    }
    if (SUCCEEDED(named)) labels_.push_back(label);
    return named;
}

// Annotations are kept by the system for the window: cleared while the windows exist, as
// the documentation asks of a program whose annotated windows go away.
void AccessibleNames::ClearAll() {
    if (!services_) return;
    auto* services = static_cast<IAccPropServices*>(services_);
    const MSAAPROPID props[] = {PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION};
    for (HWND label : labels_) {
        services->ClearHwndProps(label, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, props, 2);
    }
    labels_.clear();
}

AccessibleNames::~AccessibleNames() {
    if (services_) static_cast<IAccPropServices*>(services_)->Release();
    if (com_initialised_) {
        using CoUninitializeFn = void(WINAPI*)();
        if (const auto co_uninit =
                Function<CoUninitializeFn>(GetModuleHandleW(L"ole32.dll"), "CoUninitialize")) {
            co_uninit();
        }
    }
    // oleacc stays loaded: freeing it under an object it may still reference from a
    // window property is not worth the few bytes.
}

}  // namespace qtk::win32
