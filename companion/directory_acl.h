// Whether C:\tmptk\ may be written into: the common judgement of who may change it
// (platform/access_list.h), with the directory's own refusals on top.
//
// The directory sits at the root of the system drive, where any local user may create a
// folder, and the diagnostic runs the batch file it finds there. So before the companion
// trusts it, the directory must not let anyone write but the current user,
// Administrators and SYSTEM: otherwise someone else could have planted, or could later
// replace, the clean-up script or a marker. Beyond the common judgement of the object
// itself, the directory also must not hand down to the files created in it any right for
// others; it must be a plain directory where its path says; and a directory that belongs
// to someone else is refused as found, never taken over. The Win32 side reads the facts,
// asks JudgeDirectory, and rewrites the access list when it says so.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/access_list.h"

namespace qtk::companion {

// The well-known SIDs the judgement names, as the diagnostic spells them too.
namespace sids = qtk::well_known_sid;

// Access masks of the list the companion writes: FILE_ALL_ACCESS, and FILE_GENERIC_READ |
// FILE_GENERIC_EXECUTE.
namespace rights {
inline constexpr std::uint32_t kFullControl = 0x001F01FF;
inline constexpr std::uint32_t kReadAndExecute = 0x001200A9;
}  // namespace rights

struct DirectoryFacts {
    bool is_directory = true;
    // Where the open directory really is, when that is not the path it was opened by: a
    // link that shows no reparse attribute (Wine's symbolic links) or a mount point.
    std::wstring leads_elsewhere;
    // Owner, access list, and whether it is a reparse point (security.is_link).
    SecurityFacts security;
};

enum class DirectoryAction {
    Use,      // safe as it is
    Tighten,  // rewrite its access list before use
    Refuse,   // never use it: not a plain directory here, or someone else's
};

struct DirectoryJudgement {
    DirectoryAction action = DirectoryAction::Use;
    bool owner_untrusted = false;
    // Others who may change it or what the companion creates in it (JudgeChange with
    // Reach::AndWhatItHandsDown): the files written there inherit its list.
    std::vector<std::wstring> writers;
    std::wstring reason;  // for a person: why it is not used as it is
};

DirectoryJudgement JudgeDirectory(const DirectoryFacts& facts);

// The access list the companion gives the directory, protected from inheritance: full
// control for the current user, Administrators and SYSTEM, read for Users; each entry is
// inherited by files and sub-directories.
struct AceSpec {
    std::wstring sid;
    std::uint32_t mask = 0;
};
std::vector<AceSpec> DesiredDacl(std::wstring_view user_sid);

}  // namespace qtk::companion
