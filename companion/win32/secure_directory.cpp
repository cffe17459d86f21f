#include "companion/win32/secure_directory.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

#include "platform/seam.h"
#include "platform/win32/win32_security.h"

namespace qtk::companion::win32 {
namespace {

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using LocalPtr = std::unique_ptr<T, LocalFreer>;

LocalPtr<void> SidFromText(const std::wstring& text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text.c_str(), &sid)) {
        throw Failure{GetLastError(), L"Cannot read the security identifier", text};
    }
    return LocalPtr<void>(sid);
}

// The protected access list the directory gets, built from the portable description.
class DesiredAcl {
public:
    explicit DesiredAcl(const std::wstring& user_sid) {
        DWORD size = sizeof(ACL);
        for (const AceSpec& ace : DesiredDacl(user_sid)) {
            sids_.push_back(SidFromText(ace.sid));
            size += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                    GetLengthSid(sids_.back().get());
        }
        // ACL sizes are DWORD-aligned.
        size = (size + 3) & ~3u;
        buffer_.resize(size);
        acl_ = reinterpret_cast<PACL>(buffer_.data());
        if (!InitializeAcl(acl_, size, ACL_REVISION)) {
            throw Failure{GetLastError(), L"Cannot build the access list", L""};
        }
        std::size_t i = 0;
        for (const AceSpec& ace : DesiredDacl(user_sid)) {
            if (!AddAccessAllowedAceEx(acl_, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                       ace.mask, sids_[i++].get())) {
                throw Failure{GetLastError(), L"Cannot build the access list", ace.sid};
            }
        }
    }
    PACL get() const { return acl_; }

private:
    std::vector<LocalPtr<void>> sids_;
    std::vector<unsigned char> buffer_;
    PACL acl_ = nullptr;
};

}  // namespace

std::wstring CurrentUserSid() {
    std::wstring sid = qtk::win32::ProcessUserSid();
    if (sid.empty()) {
        throw Failure{ERROR_INVALID_SID, L"Cannot read who is running the examination", L""};
    }
    return sid;
}

SecureDirectory::SecureDirectory(const std::wstring& path)
    : path_(path), user_sid_(CurrentUserSid()) {
    const DesiredAcl acl(user_sid_);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, acl.get(), FALSE);
    // Protected: nothing the drive root hands down (such as "Authenticated Users may
    // modify") is added to the list.
    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    if (!CreateDirectoryW(path_.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
        throw Failure{GetLastError(), L"Cannot create the directory", path_};
    }

    // Opened as the link itself if it is one, so the check below sees the link.
    pin_ = CreateFileW(path_.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (pin_ == INVALID_HANDLE_VALUE) {
        throw Failure{GetLastError(), L"Cannot open the directory", path_};
    }

    // Everything is decided from what was read before anything is changed: a directory
    // that is refused is left exactly as it was found.
    DirectoryJudgement judgement = JudgeDirectory(ReadFacts());
    if (judgement.action == DirectoryAction::Tighten) {
        Tighten(judgement);
        judgement = JudgeDirectory(ReadFacts());
        if (judgement.action == DirectoryAction::Tighten) {
            throw Failure{ERROR_ACCESS_DENIED,
                          L"The directory is not used, because its access list did not take: " +
                              judgement.reason,
                          path_};
        }
    }
    if (judgement.action == DirectoryAction::Refuse) {
        throw Failure{ERROR_DIRECTORY, L"The directory is not used, because " + judgement.reason,
                      path_};
    }
}

SecureDirectory::~SecureDirectory() {
    if (pin_ != INVALID_HANDLE_VALUE) CloseHandle(pin_);
}

DirectoryFacts SecureDirectory::ReadFacts() const {
    DirectoryFacts facts;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(pin_, &info)) {
        throw Failure{GetLastError(), L"Cannot read the directory's attributes", path_};
    }
    facts.is_directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.leads_elsewhere = WhereElse();
    facts.security = qtk::win32::ReadSecurityFacts(pin_, user_sid_, path_);
    return facts;
}

// The handle's own final path: a symbolic link, a junction or a mount point anywhere on the
// way (Wine's links to Unix directories show no reparse attribute at all) makes it differ
// from the path the directory was opened by. "GetFinalPathNameByHandleW function",
// https://learn.microsoft.com/en-us/windows/win32/api/fileapi/nf-fileapi-getfinalpathnamebyhandlew
std::wstring SecureDirectory::WhereElse() const {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(pin_, buffer.data(),
                                                       static_cast<DWORD>(buffer.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            // Not to be had in a DOS form (a volume without a drive letter): it is
            // somewhere else than C:\tmptk all the same.
            return L"a place without a drive letter";
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(length + 1);
    }
    std::wstring final_path(buffer.begin(), buffer.end());
    const std::wstring expected = L"\\\\?\\" + path_;
    if (CompareStringOrdinal(final_path.c_str(), static_cast<int>(final_path.size()),
                             expected.c_str(), static_cast<int>(expected.size()),
                             TRUE) == CSTR_EQUAL) {
        return {};
    }
    return final_path.rfind(L"\\\\?\\", 0) == 0 ? final_path.substr(4) : final_path;
}

void SecureDirectory::Tighten(const DirectoryJudgement& judgement) {
    const DesiredAcl acl(user_sid_);
    // Only the list: a directory whose owner is not trusted was refused before this.
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    // Through the name, not the handle: SetNamedSecurityInfoW also hands the new list down
    // to whatever is already inside.
    std::wstring name = path_;
    const DWORD result = SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, what, nullptr,
                                               nullptr, acl.get(), nullptr);
    if (result != ERROR_SUCCESS) {
        throw Failure{result,
                      L"The directory is not used, because " + judgement.reason +
                          L", and its access list could not be changed",
                      path_};
    }
}

}  // namespace qtk::companion::win32
