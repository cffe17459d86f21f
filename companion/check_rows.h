// The marker groups' findings as report rows, and what a list of rows means for the
// exit code. The marker words map one to one: "ok" -> pass, "fail" -> fail,
// "cannot look" -> undecided.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "companion/check_result.h"
#include "companion/examination.h"
#include "companion/run_context.h"

namespace qtk::companion {

// Where a marker row belongs in the report: its group, scope and target, by marker path.
struct RowIdentity {
    std::string group;
    RowScope scope = RowScope::Machine;
    std::wstring target;    // as a person reads it: "https://*.qrn.example"
    std::string id_target;  // the part of the stable id, ASCII
};

// Nothing for a path the check tables do not name.
std::optional<RowIdentity> IdentifyMarker(std::wstring_view marker);

// With nobody to examine, the rows about the user's settings say so in place of whatever
// the examination made of an unreadable hive; the markers carry the same words.
void MarkUserRowsUnavailable(std::vector<MarkerResult>& markers, const std::wstring& reason);

// The marker rows as examined for the chosen user. registry reads HKCU as that user's hive
// (the platform maps it); with nobody to examine, no user key is opened at all and the user
// rows say why.
std::vector<MarkerResult> ExamineFor(RegistrySource& registry, const UserChoice& choice);

// "HKU\S-1-5-21-..." when the user's settings come from HKEY_USERS; empty otherwise.
std::wstring UserPlaceRoot(const UserChoice& choice);

// user_place_root: "HKU\S-1-5-21-...", when the user's settings were read from
// HKEY_USERS; the places then name the hive that was really read instead of "HKCU".
std::vector<CheckResult> ToCheckResults(const std::vector<MarkerResult>& markers,
                                        const std::wstring& user_place_root);

RowVerdict VerdictOf(Outcome outcome);

struct RowCounts {
    std::size_t pass = 0;
    std::size_t fail = 0;
    std::size_t undecided = 0;
};
RowCounts Count(const std::vector<CheckResult>& rows);

// 0 all passed, 1 any failed (a failure outranks undecided), 2 undecided and none failed.
int ExitCodeFor(const std::vector<CheckResult>& rows);

std::string_view VerdictWord(RowVerdict verdict);  // "pass", "fail", "undecided"
std::string_view ScopeWord(RowScope scope);        // "user", "machine"

}  // namespace qtk::companion
