// Whether the clean-up script may be started at the close.
//
// C:\tmptk sits at the root of the system drive, where any local user may create a
// folder, and a folder created there inherits write access for every authenticated user.
// Started by an elevated diagnostic, a script someone else planted there would run with
// an administrator's rights. So an elevated run starts it only when neither the script
// nor the directory can be changed by anyone but the current user, Administrators and
// SYSTEM (and each belongs to one of them). A run that is not elevated starts it as it
// always has: set-up scripts other than ours leave the directory with the inherited
// access list, and a normal user relies on the clean-up, which runs with no more rights
// than theirs.
//
// Elevation is the token's: TokenElevation, "TokenIsElevated: a nonzero value if the
// token has elevated privileges"
// (https://learn.microsoft.com/windows/win32/api/winnt/ns-winnt-token_elevation).
#pragma once

#include <string>

#include "platform/access_list.h"

namespace qtk {

struct CleanupDecision {
    bool launch = true;
    std::wstring reason;  // why not, for a person; empty when launched
};

// directory_path and script_path only name the two in the reason.
CleanupDecision DecideCleanupLaunch(bool elevated, const SecurityFacts& directory,
                                    const SecurityFacts& script,
                                    std::wstring_view directory_path,
                                    std::wstring_view script_path);

}  // namespace qtk
