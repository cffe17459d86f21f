// Who may change a file or a directory, decided over plain facts about its security
// descriptor: its owner and the entries of its access list. The one judgement both
// programs make: the diagnostic before it runs C:\tmptk\rundelay.bat, the companion
// (companion/directory_acl.h, with the directory's own refusals on top) before it writes
// into C:\tmptk.
//
// A program that runs or fills what it finds on disk must know that nobody but the
// trusted could have put it there. Trusted are the current user, Administrators and
// SYSTEM. The Win32 side reads the facts (platform/win32/win32_security.h); the judgement
// here is portable and tested over tables of access lists. The rules, and where Microsoft
// states them:
//
// - Which rights change a file or a directory: FILE_WRITE_DATA / FILE_ADD_FILE,
//   FILE_APPEND_DATA / FILE_ADD_SUBDIRECTORY, FILE_DELETE_CHILD, DELETE, WRITE_DAC,
//   WRITE_OWNER, and GENERIC_WRITE / GENERIC_ALL, which include them ("File Access Rights
//   Constants", https://learn.microsoft.com/windows/win32/fileio/file-access-rights-constants;
//   "Standard access rights",
//   https://learn.microsoft.com/windows/win32/secauthz/standard-access-rights; "File
//   Security and Access Rights",
//   https://learn.microsoft.com/windows/win32/fileio/file-security-and-access-rights).
//   FILE_WRITE_ATTRIBUTES counts too: it is enough to put a reparse point on the object,
//   which turns it into a link to somewhere else ("FSCTL_SET_REPARSE_POINT", [MS-FSA]
//   2.1.5.10.37: the open must have FILE_WRITE_DATA or FILE_WRITE_ATTRIBUTES,
//   https://learn.microsoft.com/openspecs/windows_protocols/ms-fsa/4aeefef8-92c3-4abc-af7a-a610caf8a165).
//   FILE_WRITE_EA does not: extended attributes change neither what the object holds nor
//   where its name leads.
// - An entry marked INHERIT_ONLY_ACE "does not control access to the object to which it
//   is attached"; OBJECT_INHERIT_ACE and CONTAINER_INHERIT_ACE hand an entry down to the
//   files and sub-directories created inside ("ACE_HEADER",
//   https://learn.microsoft.com/windows/win32/api/winnt/ns-winnt-ace_header; "ACE
//   Inheritance Rules", https://learn.microsoft.com/windows/win32/secauthz/ace-inheritance-rules).
//   So the object itself is judged without inherit-only entries; what a directory hands
//   down is judged only where the caller asks (Reach::AndWhatItHandsDown).
// - CREATOR OWNER (S-1-3-0) on an entry grants nobody anything on the object; handed down,
//   it becomes whoever creates the new object. OWNER RIGHTS (S-1-3-4) "represents the
//   current owner of the object", and an entry for it replaces the owner's implicit
//   READ_CONTROL and WRITE_DAC ("Well-known SIDs",
//   https://learn.microsoft.com/windows/win32/secauthz/well-known-sids; "Owner of a New
//   Object", https://learn.microsoft.com/windows/win32/secauthz/owner-of-a-new-object).
//   An OWNER RIGHTS entry is therefore judged as the owner is.
// - The owner implicitly may rewrite the access list, and is usually who made the object
//   and put into it what it holds: an owner outside the trusted makes the object someone
//   else's, even where an OWNER RIGHTS entry takes that implicit right away now.
// - No access list at all grants everyone everything ("Null DACLs and Empty DACLs",
//   https://learn.microsoft.com/windows/win32/secauthz/null-dacls-and-empty-dacls).
// - A denying entry takes nothing away from the judgement: whether it wins depends on its
//   place in the list and on the groups of whoever asks ("How DACLs Control Access to an
//   Object", https://learn.microsoft.com/windows/win32/secauthz/how-dacls-control-access-to-an-object),
//   and we do not bet on that. Allowing entries of every kind (plain, object, callback,
//   compound) count, since a condition nobody here can evaluate may hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qtk {

namespace well_known_sid {
inline constexpr std::wstring_view kAdministrators = L"S-1-5-32-544";
inline constexpr std::wstring_view kLocalSystem = L"S-1-5-18";
inline constexpr std::wstring_view kCreatorOwner = L"S-1-3-0";
inline constexpr std::wstring_view kOwnerRights = L"S-1-3-4";
inline constexpr std::wstring_view kEveryone = L"S-1-1-0";
inline constexpr std::wstring_view kAuthenticatedUsers = L"S-1-5-11";
inline constexpr std::wstring_view kUsers = L"S-1-5-32-545";
}  // namespace well_known_sid

// Access bits, as in an access mask. kAny is every right that changes the object.
namespace change_right {
inline constexpr std::uint32_t kWriteData = 0x0002;   // FILE_WRITE_DATA, FILE_ADD_FILE
inline constexpr std::uint32_t kAppendData = 0x0004;  // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
inline constexpr std::uint32_t kDeleteChild = 0x0040;
inline constexpr std::uint32_t kWriteAttributes = 0x0100;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kAny = kWriteData | kAppendData | kDeleteChild | kWriteAttributes |
                                      kDelete | kWriteDac | kWriteOwner | kGenericAll |
                                      kGenericWrite;
}  // namespace change_right

enum class Trustee { CurrentUser, Administrators, LocalSystem, CreatorOwner, OwnerRights, Other };

// Which of the kinds above sid is, for a process running as user_sid. SIDs are compared
// as the system spells them, with the S in either case.
Trustee ClassifySid(std::wstring_view sid, std::wstring_view user_sid);

// The same SID, spelled with the S in either case.
bool SameSid(std::wstring_view a, std::wstring_view b);

struct AccessEntry {
    Trustee trustee = Trustee::Other;
    std::wstring sid;  // empty when it could not be read: an unknown account
    bool allows = true;
    std::uint32_t mask = 0;
    bool inherit_only = false;
    // Handed down to the files or sub-directories created inside.
    bool handed_down = false;
};

struct SecurityFacts {
    Trustee owner = Trustee::Other;
    std::wstring owner_sid;
    bool has_dacl = true;
    // A link, junction or mount point: what it leads to can be changed by whoever may
    // change the link.
    bool is_link = false;
    std::vector<AccessEntry> entries;
};

enum class Reach {
    Itself,              // the object as it is
    AndWhatItHandsDown,  // and what is created inside it, as the entries hand them down
};

struct ChangeJudgement {
    bool owner_trusted = false;
    // The SIDs of everyone else who may change it, in list order, each once; Everyone
    // when there is no access list; "" for an account that could not be read.
    std::vector<std::wstring> others;
};

ChangeJudgement JudgeChange(const SecurityFacts& facts, Reach reach);

// "Everyone (S-1-1-0)", or the SID itself, for a person.
std::wstring SidForPerson(std::wstring_view sid);

// Why someone other than the trusted may change the object itself, for a person
// ("Everyone (S-1-1-0) may change it"); empty when nobody else may.
std::wstring WhoElseMayChange(const SecurityFacts& facts);

}  // namespace qtk
