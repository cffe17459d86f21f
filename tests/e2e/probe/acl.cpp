// Access lists shown and spoiled from inside the prefix, and files held open the way an
// antivirus or a backup agent holds them, for the companion's cases.
#include "probe.h"

#include <aclapi.h>
#include <sddl.h>

namespace probe {
namespace {

[[noreturn]] void Fail(const char* what, DWORD code) {
    throw ProbeError{std::string(what) + " (error " + Num(code) + ")"};
}

// The parts of a security descriptor made from SDDL that SetNamedSecurityInfoW takes.
class ParsedList {
public:
    explicit ParsedList(const wchar_t* sddl) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd_,
                                                                  nullptr)) {
            Fail("ConvertStringSecurityDescriptorToSecurityDescriptorW", GetLastError());
        }
        BOOL present = FALSE, defaulted = FALSE;
        GetSecurityDescriptorDacl(sd_, &present, &dacl_, &defaulted);
        GetSecurityDescriptorOwner(sd_, &owner_, &defaulted);
    }
    ~ParsedList() { LocalFree(sd_); }
    ParsedList(const ParsedList&) = delete;
    ParsedList& operator=(const ParsedList&) = delete;

    PACL dacl() const { return dacl_; }
    PSID owner() const { return owner_; }

private:
    PSECURITY_DESCRIPTOR sd_ = nullptr;
    PACL dacl_ = nullptr;
    PSID owner_ = nullptr;
};

}  // namespace

// acl-show PATH: owner, access list and its protection as SDDL, and the current user's
// SID, so that the case can tell "me" from everybody else.
void AclShow(const Args& args) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD result = GetNamedSecurityInfoW(args[0].c_str(), SE_FILE_OBJECT,
                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, nullptr, nullptr, &sd);
    if (result != ERROR_SUCCESS) Fail("GetNamedSecurityInfoW", result);
    wchar_t* sddl = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl,
            nullptr)) {
        const DWORD error = GetLastError();
        LocalFree(sd);
        Fail("ConvertSecurityDescriptorToStringSecurityDescriptorW", error);
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    Line("sddl\t" + Field(sddl));
    Line(std::string("protected\t") + ((control & SE_DACL_PROTECTED) ? "1" : "0"));
    LocalFree(sddl);
    LocalFree(sd);

    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        unsigned char buffer[256];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
            wchar_t* sid = nullptr;
            if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
                Line("user\t" + Field(sid));
                LocalFree(sid);
            }
        }
        CloseHandle(token);
    }
}

// acl-open-to-everyone PATH: creates the directory PATH if missing, owned by
// Administrators, and lets Everyone do anything in it, inherited by everything inside.
void AclOpenToEveryone(const Args& args) {
    if (!CreateDirectoryW(args[0].c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        Fail("CreateDirectoryW", GetLastError());
    }
    const ParsedList list(L"O:BAD:(A;OICI;FA;;;WD)");
    std::wstring name = args[0];
    const DWORD result = SetNamedSecurityInfoW(
        name.data(), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
        list.owner(), nullptr, list.dacl(), nullptr);
    if (result != ERROR_SUCCESS) Fail("SetNamedSecurityInfoW", result);
    Line("opened\t" + Field(args[0]));
}

// acl-set PATH SDDL: PATH gets exactly the access list of SDDL, protected.
void AclSet(const Args& args) {
    const ParsedList list(args[1].c_str());
    std::wstring name = args[0];
    const DWORD result = SetNamedSecurityInfoW(
        name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        nullptr, nullptr, list.dacl(), nullptr);
    if (result != ERROR_SUCCESS) Fail("SetNamedSecurityInfoW", result);
    Line("set\t" + Field(args[0]));
}

// hold-unshared PATH: opens PATH for reading, sharing nothing, says "held", and keeps it
// open until its standard input ends, so that nothing can replace or delete the file
// meanwhile.
void HoldUnshared(const Args& args) {
    HANDLE file = CreateFileW(args[0].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("CreateFileW", GetLastError());
    Line("held\t" + Field(args[0]));
    char buffer[64];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    CloseHandle(file);
}

// hold-while PATH FLAG: opens PATH as a reader that shares everything but delete (an
// antivirus, a backup agent), says "held", and keeps it open while the file FLAG exists,
// at most two minutes.
void HoldWhile(const Args& args) {
    HANDLE file = CreateFileW(args[0].c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("CreateFileW", GetLastError());
    Line("held\t" + Field(args[0]));
    for (int waited = 0; waited < 1200 && GetFileAttributesW(args[1].c_str()) != INVALID_FILE_ATTRIBUTES;
         ++waited) {
        Sleep(100);
    }
    CloseHandle(file);
    Line("released\t" + Field(args[0]));
}

// keep-mutex NAME FLAG: keeps a handle on the named mutex NAME, without owning it, while the
// file FLAG exists (at most two minutes), as a second examination waiting for it would: a
// run killed while it owns the mutex then leaves it abandoned instead of gone. Says "kept"
// once it has the handle.
void KeepMutex(const Args& args) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, args[0].c_str());
    if (mutex == nullptr) Fail("CreateMutexW", GetLastError());
    Line("kept\t" + Field(args[0]));
    for (int waited = 0; waited < 1200 && GetFileAttributesW(args[1].c_str()) != INVALID_FILE_ATTRIBUTES;
         ++waited) {
        Sleep(100);
    }
    CloseHandle(mutex);
}

}  // namespace probe
