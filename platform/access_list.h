// Who may change a file or a directory, decided over plain facts about its security
// descriptor: its owner and the entries of its access list.
//
// A program that runs what it finds on disk (the diagnostic runs C:\tmptk\rundelay.bat)
// must know that nobody but the trusted could have put it there. Trusted are the current
// user, Administrators and SYSTEM; an owner outside them could rewrite the list at will.
// The Win32 side reads the facts (GetSecurityInfo); the judgement here is portable and
// tested over tables of access lists.
//
// Rights, from "File Security and Access Rights" and "File Access Rights Constants"
// (https://learn.microsoft.com/windows/win32/fileio/file-security-and-access-rights,
// https://learn.microsoft.com/windows/win32/fileio/file-access-rights-constants) and
// "Standard access rights" (https://learn.microsoft.com/windows/win32/secauthz/standard-access-rights).
// Well-known SIDs: https://learn.microsoft.com/windows/win32/secauthz/well-known-sids.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qtk {

namespace well_known_sid {
inline constexpr std::wstring_view kAdministrators = L"S-1-5-32-544";
inline constexpr std::wstring_view kLocalSystem = L"S-1-5-18";
// Stands for whoever creates an object; on the object itself it grants nobody anything.
inline constexpr std::wstring_view kCreatorOwner = L"S-1-3-0";
// Stands for the object's owner, who is judged as the owner.
inline constexpr std::wstring_view kOwnerRights = L"S-1-3-4";
inline constexpr std::wstring_view kEveryone = L"S-1-1-0";
inline constexpr std::wstring_view kAuthenticatedUsers = L"S-1-5-11";
inline constexpr std::wstring_view kUsers = L"S-1-5-32-545";
}  // namespace well_known_sid

// The rights that let a holder change what a file holds, or what a directory holds
// (FILE_ADD_FILE and FILE_ADD_SUBDIRECTORY share the bits of FILE_WRITE_DATA and
// FILE_APPEND_DATA), delete or rename it, or take it over through its access list or
// owner; and the generic rights that include any of these. Attributes are left out:
// changing them replaces nothing.
namespace change_right {
inline constexpr std::uint32_t kWriteData = 0x0002;   // FILE_WRITE_DATA, FILE_ADD_FILE
inline constexpr std::uint32_t kAppendData = 0x0004;  // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
inline constexpr std::uint32_t kDeleteChild = 0x0040;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kAny = kWriteData | kAppendData | kDeleteChild | kDelete |
                                      kWriteDac | kWriteOwner | kGenericAll | kGenericWrite;
}  // namespace change_right

enum class Trustee { CurrentUser, Administrators, LocalSystem, CreatorOwner, Other };

// Which of the kinds above sid is, for a process running as user_sid. SIDs are compared
// as the system spells them, with the S in either case.
Trustee ClassifySid(std::wstring_view sid, std::wstring_view user_sid);

struct AccessEntry {
    Trustee trustee = Trustee::Other;
    std::wstring sid;  // for the message to a person
    // Allowing entries of every kind (plain, object, callback) count; a denying entry
    // takes nothing away from the judgement, since its place in the list decides whether
    // it wins and we do not bet on that.
    bool allows = true;
    std::uint32_t mask = 0;
    // Applies only to what is created inside, never to the object itself.
    bool inherit_only = false;
};

struct SecurityFacts {
    Trustee owner = Trustee::Other;
    std::wstring owner_sid;
    bool has_dacl = true;  // no access list at all lets everyone do everything
    // A link, junction or mount point: what it leads to can be changed by whoever may
    // change the link.
    bool is_link = false;
    std::vector<AccessEntry> entries;
};

// Why someone other than the trusted may change the object, for a person ("Everyone
// (S-1-1-0) may change it"); empty when nobody else may.
std::wstring WhoElseMayChange(const SecurityFacts& facts);

}  // namespace qtk
