#include "platform/win32/win32_security.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

namespace qtk::win32 {
namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

Handle ProcessToken() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    return Handle(token);
}

// Where the SID of an ACE starts: after the mask in the plain and callback kinds, after
// the object-type GUIDs that are present in the object kinds.
// ACE layouts: https://learn.microsoft.com/windows/win32/secauthz/ace
PSID AceSid(const ACE_HEADER* header, bool object_kind) {
    if (!object_kind) {
        return const_cast<DWORD*>(&reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->SidStart);
    }
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(header);
    const auto* at = reinterpret_cast<const BYTE*>(&ace->ObjectType);
    if (ace->Flags & ACE_OBJECT_TYPE_PRESENT) at += sizeof(GUID);
    if (ace->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) at += sizeof(GUID);
    return const_cast<BYTE*>(at);
}

}  // namespace

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!sid || !IsValidSid(sid) || !ConvertSidToStringSidW(sid, &text)) return {};
    std::unique_ptr<wchar_t, LocalFreer> owned(text);
    return text;
}

std::wstring ProcessUserSid() {
    const Handle token = ProcessToken();
    DWORD size = 0;
    if (!token) return {};
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    return SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

SecurityFacts ReadSecurityFacts(HANDLE object, std::wstring_view user_sid,
                                const std::wstring& path) {
    SecurityFacts facts;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(object, &info)) {
        throw Failure{GetLastError(), L"Cannot read the attributes", path};
    }
    facts.is_link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;

    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result =
        GetSecurityInfo(object, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor);
    if (result != ERROR_SUCCESS) throw Failure{result, L"Cannot read the access list", path};
    const std::unique_ptr<void, LocalFreer> owned(descriptor);

    facts.owner_sid = SidText(owner);
    facts.owner = ClassifySid(facts.owner_sid, user_sid);
    facts.has_dacl = dacl != nullptr;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* raw_ace = nullptr;
        if (!GetAce(dacl, i, &raw_ace)) throw Failure{GetLastError(), L"Cannot read the access list", path};
        const auto* header = static_cast<const ACE_HEADER*>(raw_ace);
        bool allows = false;
        bool object_kind = false;
        bool sid_known = true;
        switch (header->AceType) {
            case ACCESS_ALLOWED_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: allows = true; break;
            case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: allows = object_kind = true; break;
            // Two SIDs, server and client: judged as an unknown account that may.
            case ACCESS_ALLOWED_COMPOUND_ACE_TYPE: allows = true; sid_known = false; break;
            case ACCESS_DENIED_ACE_TYPE:
            case ACCESS_DENIED_CALLBACK_ACE_TYPE: break;
            case ACCESS_DENIED_OBJECT_ACE_TYPE:
            case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE: object_kind = true; break;
            default: continue;  // audit, label and other entries grant nothing
        }
        AccessEntry entry;
        if (sid_known) entry.sid = SidText(AceSid(header, object_kind));
        entry.trustee = entry.sid.empty() ? Trustee::Other : ClassifySid(entry.sid, user_sid);
        entry.allows = allows;
        // Every allowing and denying kind keeps its mask right after the header.
        entry.mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;
        entry.inherit_only = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
        entry.handed_down =
            (header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) != 0;
        facts.entries.push_back(std::move(entry));
    }
    return facts;
}

bool Win32LaunchGuard::RunsElevated() {
    const Handle token = ProcessToken();
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!token || !GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation,
                                       &size)) {
        return true;  // unknown: judge as if elevated, which only ever refuses more
    }
    return elevation.TokenIsElevated != 0;
}

std::wstring Win32LaunchGuard::UserSid() {
    if (user_sid_.empty()) user_sid_ = ProcessUserSid();
    return user_sid_;
}

SecurityFacts Win32LaunchGuard::SecurityOf(const std::wstring& path) {
    const std::wstring user = UserSid();
    // The object itself: a link is opened, not followed, so that it is judged as a link.
    HANDLE raw = CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr);
    if (raw == INVALID_HANDLE_VALUE) throw Failure{GetLastError(), L"Cannot open", path};
    const Handle handle(raw);
    return ReadSecurityFacts(handle.get(), user, path);
}

}  // namespace qtk::win32
