#include "companion/win32/win32_user.h"

#include <sddl.h>
#include <wtsapi32.h>

#include <vector>

#include "platform/win32/system_library.h"

namespace qtk::companion::win32 {
namespace {

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return {};
    std::wstring result(text);
    LocalFree(text);
    return result;
}

// The user SID of a token as text; 0 or the Windows error.
long TokenUserSid(HANDLE token, std::wstring* sid) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : sizeof(TOKEN_USER));
    if (!GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()),
                             &size)) {
        return static_cast<long>(GetLastError());
    }
    *sid = SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
    return sid->empty() ? ERROR_INVALID_SID : 0;
}

}  // namespace

Win32Sessions::~Win32Sessions() {
    if (wtsapi_ != nullptr) FreeLibrary(wtsapi_);
}

std::wstring Win32Sessions::ProcessUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    std::wstring sid;
    TokenUserSid(token, &sid);
    CloseHandle(token);
    return sid;
}

std::optional<std::uint32_t> Win32Sessions::ConsoleSession() {
    const DWORD session = WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFF) return std::nullopt;
    return session;
}

HMODULE Win32Sessions::Wtsapi(long* error) {
    // wtsapi32 is no KnownDLL: a static import would be looked for beside the program
    // first, so it is loaded from System32 only, and only when running as SYSTEM.
    if (wtsapi_ == nullptr) {
        wtsapi_ = qtk::win32::LoadSystemLibrary(L"wtsapi32.dll");
        if (wtsapi_ == nullptr) *error = static_cast<long>(GetLastError());
    }
    return wtsapi_;
}

long Win32Sessions::SessionUserSid(std::uint32_t session, std::wstring* sid) {
    using QueryUserTokenFn = BOOL(WINAPI*)(ULONG, PHANDLE);
    long error = 0;
    HMODULE wtsapi = Wtsapi(&error);
    if (wtsapi == nullptr) return error;
    const auto query = qtk::win32::FindExport<QueryUserTokenFn>(wtsapi, "WTSQueryUserToken");
    if (query == nullptr) return static_cast<long>(GetLastError());
    HANDLE token = nullptr;
    if (!query(session, &token)) return static_cast<long>(GetLastError());
    const long result = TokenUserSid(token, sid);
    CloseHandle(token);
    return result;
}

long Win32Sessions::ActiveSessions(std::vector<std::uint32_t>* sessions) {
    using EnumerateFn = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW*, DWORD*);
    using FreeFn = void(WINAPI*)(PVOID);
    long error = 0;
    HMODULE wtsapi = Wtsapi(&error);
    if (wtsapi == nullptr) return error;
    const auto enumerate = qtk::win32::FindExport<EnumerateFn>(wtsapi, "WTSEnumerateSessionsW");
    const auto release = qtk::win32::FindExport<FreeFn>(wtsapi, "WTSFreeMemory");
    if (enumerate == nullptr || release == nullptr) return static_cast<long>(GetLastError());
    PWTS_SESSION_INFOW info = nullptr;
    DWORD count = 0;
    if (!enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &info, &count)) {
        return static_cast<long>(GetLastError());
    }
    for (DWORD i = 0; i < count; ++i) {
        if (info[i].State == WTSActive) sessions->push_back(info[i].SessionId);
    }
    release(info);
    return 0;
}

std::wstring Win32Sessions::AccountName(const std::wstring& sid_text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(sid_text.c_str(), &sid)) return {};
    wchar_t name[256];
    wchar_t domain[256];
    DWORD name_size = 256;
    DWORD domain_size = 256;
    SID_NAME_USE use;
    std::wstring result;
    if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
        result = domain_size > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name);
    }
    LocalFree(sid);
    return result;
}

bool Win32Sessions::HiveLoaded(const std::wstring& sid) {
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) RegCloseKey(key);
    // A hive that is there but refuses us is loaded all the same: its rows then say
    // "access denied", which is the truth.
    return result != ERROR_FILE_NOT_FOUND && result != ERROR_PATH_NOT_FOUND;
}

bool ProcessIsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const BOOL read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return read && elevation.TokenIsElevated != 0;
}

std::optional<std::uint32_t> ProcessSession() {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return std::nullopt;
    return session;
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return {};
    return std::wstring(name, size);
}

}  // namespace qtk::companion::win32
