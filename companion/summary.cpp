#include "companion/summary.h"

#include <algorithm>
#include <map>

#include "checks/contract.h"
#include "companion/check_rows.h"
#include "companion/system_zone.h"

namespace qtk::companion {
namespace {

std::wstring Padded(std::wstring text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), L' ');
    return text;
}

}  // namespace

std::wstring ExaminedUserText(const UserChoice& choice) {
    if (!choice.user.logged_on) return L"no user's settings: " + choice.unavailable_reason;
    const std::wstring sid = ExaminedSid(choice);
    const std::wstring& name = choice.user.name;
    std::wstring text = L"the settings of ";
    if (!name.empty()) {
        text += name + (sid.empty() ? L"" : L" (" + sid + L")");
    } else {
        text += sid.empty() ? L"this user" : sid;
    }
    if (!choice.user.is_process_user) text += L", read from HKEY_USERS";
    return text;
}

std::wstring SummaryText(const std::vector<CheckResult>& rows, const RunFacts& facts) {
    std::wstring text = L"tkexamine " + facts.tool_version + L" on " + facts.computer_name +
                        L": examined " + ExaminedUserText(facts.user) + L"\n";
    std::vector<std::string> order;
    std::map<std::string, RowCounts> groups;
    std::size_t width = 0;
    for (const CheckResult& row : rows) {
        if (groups.find(row.group) == groups.end()) {
            order.push_back(row.group);
            width = std::max(width, row.group.size());
        }
        RowCounts& counts = groups[row.group];
        switch (row.verdict) {
            case RowVerdict::Pass: ++counts.pass; break;
            case RowVerdict::Fail: ++counts.fail; break;
            case RowVerdict::Undecided: ++counts.undecided; break;
        }
    }
    for (const std::string& group : order) {
        const RowCounts& counts = groups[group];
        text += L"  " + Padded(Widen(group), width) + L"  " + std::to_wstring(counts.pass) +
                L" pass, " + std::to_wstring(counts.fail) + L" fail, " +
                std::to_wstring(counts.undecided) + L" undecided\n";
    }
    bool header = false;
    for (const CheckResult& row : rows) {
        if (row.verdict == RowVerdict::Pass) continue;
        if (!header) {
            text += L"Not passed:\n";
            header = true;
        }
        text += L"  " + Padded(Widen(VerdictWord(row.verdict)), 9) + L" " + Widen(row.group) + L" " +
                Widen(ScopeWord(row.scope)) + L" " + Printable(row.target) + L": " +
                Printable(row.reason) + L"\n";
    }
    if (!facts.skipped_groups.empty()) {
        text += L"Left out:";
        for (const std::string& group : facts.skipped_groups) text += L" " + Widen(group);
        text += L"\n";
    }
    text += ZoneDisagreementText(rows);
    const RowCounts all = Count(rows);
    text += L"Result: " + std::to_wstring(all.pass) + L" pass, " + std::to_wstring(all.fail) +
            L" fail, " + std::to_wstring(all.undecided) + L" undecided";
    if (facts.report_only) {
        text += L" (report only, " + std::wstring(kMarkerDirectory) + L" untouched)";
    } else if (facts.markers_written) {
        text += L" (markers written to " + std::wstring(kMarkerDirectory) + L")";
    }
    text += L"\n";
    return text;
}

}  // namespace qtk::companion
