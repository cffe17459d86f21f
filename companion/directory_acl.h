// Who may write to C:\tmptk\, decided over plain facts about its security descriptor.
//
// The directory sits at the root of the system drive, where any local user may create a
// folder, and the diagnostic runs the batch file it finds there. So before the companion
// trusts it, the directory must not let anyone write but the current user,
// Administrators and SYSTEM: otherwise someone else could have planted, or could later
// replace, the clean-up script or a marker. The Win32 side reads the facts, asks
// JudgeDirectory, and rewrites the access list when it says so.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/access_list.h"

namespace qtk::companion {

// The well-known SIDs the judgement names, as the diagnostic spells them too.
namespace sids = qtk::well_known_sid;

// Access bits, as in an access mask, that let a holder change what is in the directory or
// who may: write, append, create, delete, rename, change attributes, the access list or
// the owner, and the generic rights that include any of these.
namespace rights {
inline constexpr std::uint32_t kWriteData = 0x0002;        // also: add a file
inline constexpr std::uint32_t kAppendData = 0x0004;       // also: add a sub-directory
inline constexpr std::uint32_t kWriteExtendedAttributes = 0x0010;
inline constexpr std::uint32_t kDeleteChild = 0x0040;
inline constexpr std::uint32_t kWriteAttributes = 0x0100;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kAnyWrite = kWriteData | kAppendData | kWriteExtendedAttributes |
                                           kDeleteChild | kWriteAttributes | kDelete | kWriteDac |
                                           kWriteOwner | kGenericAll | kGenericWrite;
// FILE_ALL_ACCESS and FILE_GENERIC_READ | FILE_GENERIC_EXECUTE.
inline constexpr std::uint32_t kFullControl = 0x001F01FF;
inline constexpr std::uint32_t kReadAndExecute = 0x001200A9;
}  // namespace rights

enum class AceKind {
    Allow,
    Deny,
    // Object, callback and audit entries: an allowing one is judged like Allow, since
    // it may grant the same rights under a condition nobody here can evaluate.
    OtherAllow,
    Other,
};

struct AceFact {
    AceKind kind = AceKind::Allow;
    std::wstring sid;  // "S-1-5-32-544"
    std::uint32_t mask = 0;
    // An entry that applies only to what is created inside still matters: the files the
    // companion creates would carry it.
    bool inherit_only = false;
};

struct DirectoryFacts {
    bool is_directory = true;
    bool is_reparse_point = false;  // a junction or link could send the writes elsewhere
    // Where the open directory really is, when that is not the path it was opened by: a
    // link that shows no reparse attribute (Wine's symbolic links) or a mount point.
    std::wstring leads_elsewhere;
    std::wstring owner_sid;
    bool has_dacl = true;  // no access list at all lets everyone do everything
    bool dacl_protected = false;
    std::vector<AceFact> aces;
};

enum class DirectoryAction {
    Use,      // safe as it is
    Tighten,  // rewrite its access list before use
    Refuse,   // never use it: not a plain directory here, or someone else's
};

struct DirectoryJudgement {
    DirectoryAction action = DirectoryAction::Use;
    bool owner_untrusted = false;
    std::vector<std::wstring> writers;  // untrusted SIDs that may write, in list order
    std::wstring reason;                // for a person: why it is not used as it is
};

DirectoryJudgement JudgeDirectory(const DirectoryFacts& facts, std::wstring_view user_sid);

bool IsTrustedWriter(std::wstring_view sid, std::wstring_view user_sid);

// The access list the companion gives the directory, protected from inheritance: full
// control for the current user, Administrators and SYSTEM, read for Users; each entry is
// inherited by files and sub-directories.
struct AceSpec {
    std::wstring sid;
    std::uint32_t mask = 0;
};
std::vector<AceSpec> DesiredDacl(std::wstring_view user_sid);

}  // namespace qtk::companion
