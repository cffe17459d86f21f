// The process token and the security descriptors of files, read into the portable model
// (platform/access_list.h): the one translation both programs use, the diagnostic for
// its launch guard and the companion for C:\tmptk.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/seam.h"

namespace qtk::win32 {

// The SID as text, "S-1-5-21-..."; empty when there is none or it is not valid.
std::wstring SidText(PSID sid);

// The SID of the user this process runs as; empty when the token cannot be read.
std::wstring ProcessUserSid();

// Owner, access list and link-ness of the open file or directory (opened with
// READ_CONTROL | FILE_READ_ATTRIBUTES), each SID classified for a process running as
// user_sid. Throws Failure naming path when they cannot be read.
SecurityFacts ReadSecurityFacts(HANDLE object, std::wstring_view user_sid,
                                const std::wstring& path);

class Win32LaunchGuard : public LaunchGuard {
public:
    bool RunsElevated() override;
    SecurityFacts SecurityOf(const std::wstring& path) override;

private:
    std::wstring UserSid();
    std::wstring user_sid_;
};

}  // namespace qtk::win32
