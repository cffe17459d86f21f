// One row of the companion's report, whatever examined it. The window's groups end in
// marker files as well; the groups the window has no room for (the token, Edge's IE mode,
// ...) end only in the console summary and the JSON report. Every examiner hands back
// rows of this one shape, built where the row's group and place are known, so the
// summary, the report and the writer need to know nothing about what was examined.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qtk::companion {

// Pass: as the kit needs it. Fail: it is not. Undecided: the examination could not decide
// (a key it may not read, nobody logged on); the marker of such a row says "cannot look".
enum class RowVerdict { Pass, Fail, Undecided };

enum class RowScope { User, Machine };

// Windows' own zone for a trusted site (IInternetSecurityManager::MapUrlToZone), set
// beside the user row that our own reading of the zone maps decided.
struct SystemZone {
    std::wstring url;                   // what the zone manager was asked
    bool asked = false;
    std::optional<std::uint32_t> zone;  // what it answered
    bool compared = false;              // a zone came back and our own reading decided
    bool disagreement = false;
    std::wstring note;                  // why not asked, the error, or what disagrees
};

struct CheckResult {
    std::string id;        // stable across runs and versions, from RowId()
    std::string group;     // the group's stable id, e.g. "trusted_sites", "token"
    RowScope scope = RowScope::Machine;
    std::wstring target;   // the site, package, setting, host, reader or certificate
    RowVerdict verdict = RowVerdict::Undecided;
    std::wstring reason;   // for a person; says why, whatever the verdict
    std::wstring place;    // what decided: a registry place, a file, a URL, a service
    std::wstring marker;   // the marker file the diagnostic reads; empty for report-only rows
    std::optional<SystemZone> system_zone;
    // Further facts a group reports beside its verdict (a reader's ATR, a certificate's
    // expiry), as name and text, in the order they were found.
    std::vector<std::pair<std::string, std::wstring>> details;
};

// How a part of a row's id is spelled. An address keeps the punctuation that makes it one
// ("https:*.qrn.example"); a name (a reader, a package, a service) keeps letters and
// digits only, as its other characters are free text that varies between drivers.
enum class IdText { Address, Name };

// The one way a row's id is made: "<group>.<scope>.<part>[.<part>...]", ASCII, lower case,
// blanks and anything else outside the part's alphabet as "_". Management systems key on
// these ids, so the spelling of an existing id never changes.
std::string RowId(std::string_view group, RowScope scope,
                  std::initializer_list<std::wstring_view> parts, IdText text = IdText::Address);

// Whose settings the user columns describe. The process's own user as a rule; under
// SYSTEM, the user at the console (or the one named on the command line).
struct ExaminedUser {
    bool logged_on = true;        // false: nobody to examine, every user row is undecided
    bool is_process_user = true;  // their store and zone manager are the process's own
    std::wstring sid;             // "S-1-5-21-..."; empty for the process's own user
    std::wstring name;            // "DOMAIN\\user", for the report; may be empty
};

}  // namespace qtk::companion
