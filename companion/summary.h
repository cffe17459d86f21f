// The console summary a person reads after a run: whose settings were examined, one line
// per check group with its counts, then every failing and undecided row with its reason.
// Rows of any group are summarised the same way, in the order the groups first appear.
#pragma once

#include <string>
#include <vector>

#include "companion/check_result.h"
#include "companion/run_context.h"

namespace qtk::companion {

std::wstring SummaryText(const std::vector<CheckResult>& rows, const RunFacts& facts);

// "the settings of DOMAIN\user (S-1-5-21-...)" or "nobody's settings: no user logged on".
std::wstring ExaminedUserText(const UserChoice& choice);

}  // namespace qtk::companion
