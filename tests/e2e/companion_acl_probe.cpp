// tkaclprobe: shows and spoils access lists from inside the Wine prefix, for the
// companion's end-to-end cases.
//
//   tkaclprobe show PATH             owner, access list and its protection, as SDDL
//   tkaclprobe open-to-everyone PATH  create PATH if missing, let Everyone write to it,
//                                     owned by Administrators
//   tkaclprobe set PATH SDDL         give PATH exactly the protected access list SDDL
//   tkaclprobe lock-key HIVE PATH    give a registry key an empty access list, so opening
//                                     it fails with error 5 (until the server restarts)
//   tkaclprobe hold PATH FLAG        open PATH as a reader that does not share delete
//                                     (an antivirus, a backup agent), say "held", and keep
//                                     it open while FLAG exists (at most two minutes)
//   tkaclprobe keep-mutex NAME FLAG  keep a handle on the named mutex NAME while FLAG
//                                     exists, so that a run killed owning it abandons it
//
// Output: tab-separated lines; "error<TAB>why" and exit 2 when a step fails.
#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "probe/registry_lock.h"

namespace {

std::string Utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

int Fail(const char* what, DWORD code) {
    std::printf("error\t%s (error %lu)\n", what, static_cast<unsigned long>(code));
    return 2;
}

int Show(const wchar_t* path) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD result = GetNamedSecurityInfoW(path, SE_FILE_OBJECT,
                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, nullptr, nullptr, &sd);
    if (result != ERROR_SUCCESS) return Fail("GetNamedSecurityInfoW", result);
    wchar_t* sddl = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl,
            nullptr)) {
        return Fail("ConvertSecurityDescriptorToStringSecurityDescriptorW", GetLastError());
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    std::printf("sddl\t%s\n", Utf8(sddl).c_str());
    std::printf("protected\t%d\n", (control & SE_DACL_PROTECTED) ? 1 : 0);
    LocalFree(sddl);
    LocalFree(sd);

    // The current user's SID, so the case can tell "me" from everybody else.
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        unsigned char buffer[256];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
            wchar_t* sid = nullptr;
            if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
                std::printf("user\t%s\n", Utf8(sid).c_str());
                LocalFree(sid);
            }
        }
        CloseHandle(token);
    }
    return 0;
}

int OpenToEveryone(const wchar_t* path) {
    if (!CreateDirectoryW(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return Fail("CreateDirectoryW", GetLastError());
    }
    PSECURITY_DESCRIPTOR sd = nullptr;
    // Owner Administrators, Everyone full control, inherited by everything inside.
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;OICI;FA;;;WD)",
                                                              SDDL_REVISION_1, &sd, nullptr)) {
        return Fail("ConvertStringSecurityDescriptorToSecurityDescriptorW", GetLastError());
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    PSID owner = nullptr;
    GetSecurityDescriptorOwner(sd, &owner, &defaulted);
    std::wstring name(path);
    const DWORD result = SetNamedSecurityInfoW(
        name.data(), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
        owner, nullptr, dacl, nullptr);
    LocalFree(sd);
    if (result != ERROR_SUCCESS) return Fail("SetNamedSecurityInfoW", result);
    std::printf("opened\t%s\n", Utf8(path).c_str());
    return 0;
}

int SetList(const wchar_t* path, const wchar_t* sddl_text) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl_text, SDDL_REVISION_1, &sd,
                                                              nullptr)) {
        return Fail("ConvertStringSecurityDescriptorToSecurityDescriptorW", GetLastError());
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    std::wstring name(path);
    const DWORD result = SetNamedSecurityInfoW(
        name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        nullptr, nullptr, dacl, nullptr);
    LocalFree(sd);
    if (result != ERROR_SUCCESS) return Fail("SetNamedSecurityInfoW", result);
    std::printf("set\t%s\n", Utf8(path).c_str());
    return 0;
}

int LockKey(const wchar_t* hive, const wchar_t* path) {
    const HKEY root = std::wstring(hive) == L"HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const probe::KeyLock lock = probe::LockRegistryKey(root, path);
    if (lock.failed_step) return Fail(lock.failed_step, static_cast<DWORD>(lock.error));
    std::printf("locked\t%s\\%s\t%ld\n", Utf8(hive).c_str(), Utf8(path).c_str(), lock.error);
    return 0;
}

// Holds PATH open without sharing until its standard input ends, so that nothing can
// replace or delete the file meanwhile; says "held" once it has it.
int Hold(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail("CreateFileW", GetLastError());
    std::printf("held\t%s\n", Utf8(path).c_str());
    std::fflush(stdout);
    char buffer[64];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    CloseHandle(file);
    return 0;
}

// Holds PATH open as a reader that shares everything but delete (an antivirus, a backup
// agent) while FLAG exists, at most two minutes; says "held" once it has it.
int HoldSharing(const wchar_t* path, const wchar_t* flag) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail("CreateFileW", GetLastError());
    std::printf("held\t%s\n", Utf8(path).c_str());
    std::fflush(stdout);
    for (int waited = 0; waited < 1200 && GetFileAttributesW(flag) != INVALID_FILE_ATTRIBUTES;
         ++waited) {
        Sleep(100);
    }
    CloseHandle(file);
    std::printf("released\t%s\n", Utf8(path).c_str());
    return 0;
}

// Keeps a handle on the named mutex NAME, without owning it, while FLAG exists (at most two
// minutes), as a second examination waiting for it would: a run killed while it owns the
// mutex then leaves it abandoned instead of gone. Says "kept" once it has the handle.
int KeepMutex(const wchar_t* name, const wchar_t* flag) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr) return Fail("CreateMutexW", GetLastError());
    std::printf("kept\t%s\n", Utf8(name).c_str());
    std::fflush(stdout);
    for (int waited = 0; waited < 1200 && GetFileAttributesW(flag) != INVALID_FILE_ATTRIBUTES;
         ++waited) {
        Sleep(100);
    }
    CloseHandle(mutex);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 3 && std::wstring(argv[1]) == L"show") return Show(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"open-to-everyone") return OpenToEveryone(argv[2]);
    if (argc == 4 && std::wstring(argv[1]) == L"set") return SetList(argv[2], argv[3]);
    if (argc == 4 && std::wstring(argv[1]) == L"lock-key") return LockKey(argv[2], argv[3]);
    if (argc == 3 && std::wstring(argv[1]) == L"hold") return Hold(argv[2]);
    if (argc == 4 && std::wstring(argv[1]) == L"hold") return HoldSharing(argv[2], argv[3]);
    if (argc == 4 && std::wstring(argv[1]) == L"keep-mutex") return KeepMutex(argv[2], argv[3]);
    std::printf("error\tusage: tkaclprobe show PATH | open-to-everyone PATH | set PATH SDDL"
                " | lock-key HIVE PATH | hold PATH [FLAG] | keep-mutex NAME FLAG\n");
    return 2;
}
