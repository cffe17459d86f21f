// The system's own zone for a URL: urlmon's security manager (urlmon.dll loaded from
// System32 at run time; COM from ole32, a KnownDLL). It answers for the user this process
// runs as, which is why the caller asks only when that is the examined user; nothing is
// loaded or started until the first question.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <memory>

#include "companion/system_zone.h"
#include "platform/win32/system_library.h"

namespace qtk::companion::win32 {

using qtk::win32::SystemLibrary;

class Win32ZoneMapper : public ZoneMapper {
public:
    Win32ZoneMapper() = default;
    Win32ZoneMapper(const Win32ZoneMapper&) = delete;
    Win32ZoneMapper& operator=(const Win32ZoneMapper&) = delete;
    ~Win32ZoneMapper() override;

    ZoneAnswer MapUrlToZone(const std::wstring& url) override;

private:
    void Start();

    bool started_ = false;
    bool com_ = false;
    std::unique_ptr<SystemLibrary> urlmon_;
    IInternetSecurityManager* manager_ = nullptr;
    std::wstring unavailable_;  // why there is no manager
};

}  // namespace qtk::companion::win32
