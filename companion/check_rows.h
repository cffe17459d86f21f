// What the rows of one examination mean together: the one place where the rows of an
// examination without a user are marked, and the counts and exit code of a list of rows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "companion/check_result.h"
#include "companion/run_context.h"

namespace qtk::companion {

// The last step of every examination, after all examiners have added their rows:
// - with nobody to examine, every user-scope row is undecided with the reason the choice
//   of user gave, whatever an examiner made of the missing hive (the examiners read the
//   user's keys through ExaminedUserRegistry, so no one else's settings were read);
// - when the user's settings came from HKEY_USERS, the places and reasons, which the
//   examiners write as "HKCU\...", name the hive that was really read.
void FinishRows(std::vector<CheckResult>& rows, const UserChoice& choice);

// A fact beside the row's verdict, in the order found. Not a template: one copy of the
// vector's growth code, not one per pair of literal sizes.
void AddDetail(CheckResult& row, const char* name, std::wstring value);

// "HKU\S-1-5-21-..." when the user's settings come from HKEY_USERS; empty otherwise.
std::wstring UserPlaceRoot(const UserChoice& choice);

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
