// One row of the companion's report, whatever examined it. The window's groups end in
// marker files; the groups the window has no room for (the token, Edge's IE mode, ...)
// end only here, in the console summary and the JSON report. Every examination that
// reports hands back rows of this one shape, so the summary and the report need to know
// nothing about what was examined.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qtk::companion {

enum class RowVerdict { Pass, Fail, Undecided };

enum class RowScope { User, Machine };

struct CheckResult {
    std::string id;        // stable across runs and versions: "<group>.<scope>.<target>"
    std::string group;     // the group's stable id, e.g. "trusted_sites", "token"
    RowScope scope = RowScope::Machine;
    std::wstring target;   // the site, package, setting, host, reader or certificate
    RowVerdict verdict = RowVerdict::Undecided;
    std::wstring reason;   // for a person; says why, whatever the verdict
    std::wstring place;    // what decided: a registry place, a file, a URL, a service
    // Further facts a group reports beside its verdict (a zone number, a reader's ATR, a
    // certificate's expiry), as name and text, in the order they were found.
    std::vector<std::pair<std::string, std::wstring>> details;
};

// Whose settings the user columns describe. The process's own user as a rule; under
// SYSTEM, the user at the console (or the one named on the command line).
struct ExaminedUser {
    bool logged_on = true;        // false: nobody to examine, every user row is undecided
    bool is_process_user = true;  // their store and zone manager are the process's own
    std::wstring sid;             // "S-1-5-21-..."; empty for the process's own user
    std::wstring name;            // "DOMAIN\\user", for the report; may be empty
};

}  // namespace qtk::companion
