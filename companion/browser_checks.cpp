#include "companion/browser_checks.h"

#include <utility>

#include "companion/check_rows.h"

namespace qtk::companion {

void AddBrowserChecks(std::vector<CheckResult>& rows, RegistrySource& registry,
                      const UserChoice& choice, const BrowserSeams& seams, bool ie_mode) {
    AddSystemZones(rows, seams.zones, choice.user);
    if (!ie_mode) return;
    ExaminedUserRegistry user_registry(registry, choice.user.logged_on);
    const std::wstring root = UserPlaceRoot(choice);
    for (CheckResult& row : ExamineIeMode(user_registry, seams.fetcher, seams.parser, choice.user)) {
        if (!choice.user.logged_on && row.verdict == RowVerdict::Undecided &&
            !choice.unavailable_reason.empty()) {
            row.reason = choice.unavailable_reason;
        }
        if (!root.empty()) {
            // The examination says "HKCU"; the report names the hive that was really read.
            for (std::wstring* text : {&row.place, &row.reason}) {
                for (std::size_t at = text->find(L"HKCU\\"); at != std::wstring::npos;
                     at = text->find(L"HKCU\\", at + root.size())) {
                    text->replace(at, 4, root);
                }
            }
        }
        rows.push_back(std::move(row));
    }
}

}  // namespace qtk::companion
