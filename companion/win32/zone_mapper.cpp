#include "companion/win32/zone_mapper.h"

#include <objbase.h>

#include "platform/win32/win32_platform.h"

namespace qtk::companion::win32 {

using qtk::win32::ErrorText;
using qtk::win32::HresultText;

void Win32ZoneMapper::Start() {
    started_ = true;
    com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    urlmon_ = std::make_unique<SystemLibrary>(L"urlmon.dll");
    using CreateFn = HRESULT(WINAPI*)(IServiceProvider*, IInternetSecurityManager**, DWORD);
    const auto create = urlmon_->Find<CreateFn>("CoInternetCreateSecurityManager");
    if (create == nullptr) {
        unavailable_ = L"the zone manager (urlmon.dll) is not available: " +
                       (urlmon_->Module() == nullptr ? ErrorText(urlmon_->LoadError())
                                                     : std::wstring(L"no CoInternetCreateSecurityManager"));
        return;
    }
    const HRESULT created = create(nullptr, &manager_, 0);
    if (FAILED(created)) {
        manager_ = nullptr;
        unavailable_ = L"the zone manager cannot start: " + HresultText(created);
    }
}

Win32ZoneMapper::~Win32ZoneMapper() {
    if (manager_ != nullptr) manager_->Release();
    urlmon_.reset();
    if (com_) CoUninitialize();
}

ZoneAnswer Win32ZoneMapper::MapUrlToZone(const std::wstring& url) {
    if (!started_) Start();
    if (manager_ == nullptr) return {std::nullopt, unavailable_};
    DWORD zone = 0;
    const HRESULT result = manager_->MapUrlToZone(url.c_str(), &zone, 0);
    if (FAILED(result)) return {std::nullopt, L"MapUrlToZone failed: " + HresultText(result)};
    return {static_cast<std::uint32_t>(zone), {}};
}

}  // namespace qtk::companion::win32
