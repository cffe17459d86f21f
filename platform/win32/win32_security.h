// The real LaunchGuard: the process token and the security descriptors of files.
#pragma once

#include <windows.h>

#include <string>

#include "platform/seam.h"

namespace qtk::win32 {

class Win32LaunchGuard : public LaunchGuard {
public:
    bool RunsElevated() override;
    SecurityFacts SecurityOf(const std::wstring& path) override;

private:
    std::wstring UserSid();
    std::wstring user_sid_;
};

}  // namespace qtk::win32
