#include "companion/check_rows.h"

#include "companion/cli.h"

namespace qtk::companion {
namespace {

void AppendIdPart(std::string& id, std::wstring_view text, IdText alphabet) {
    for (const wchar_t c : text) {
        if (c >= L'A' && c <= L'Z') {
            id += static_cast<char>(c - L'A' + L'a');
            continue;
        }
        const bool keep = (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
                          (alphabet == IdText::Address &&
                           (c == L'.' || c == L'*' || c == L'-' || c == L':'));
        id += keep ? static_cast<char>(c) : '_';
    }
}

void NameHive(std::wstring& text, const std::wstring& root) {
    constexpr std::wstring_view kCurrentUser = L"HKCU\\";
    for (std::size_t at = text.find(kCurrentUser); at != std::wstring::npos;
         at = text.find(kCurrentUser, at + root.size() + 1)) {
        text.replace(at, kCurrentUser.size() - 1, root);
    }
}

}  // namespace

std::string RowId(std::string_view group, RowScope scope,
                  std::initializer_list<std::wstring_view> parts, IdText text) {
    std::string id(group);
    id += '.';
    id += ScopeWord(scope);
    for (const std::wstring_view part : parts) {
        id += '.';
        AppendIdPart(id, part, text);
    }
    return id;
}

void AddDetail(CheckResult& row, const char* name, std::wstring value) {
    row.details.emplace_back(std::string(name), std::move(value));
}

std::wstring UserPlaceRoot(const UserChoice& choice) {
    if (choice.user.is_process_user || !choice.user.logged_on) return {};
    return L"HKU\\" + choice.user.sid;
}

void FinishRows(std::vector<CheckResult>& rows, const UserChoice& choice) {
    if (!choice.user.logged_on) {
        const std::wstring reason = choice.unavailable_reason.empty()
                                        ? std::wstring(kNoUserLoggedOn)
                                        : choice.unavailable_reason;
        for (CheckResult& row : rows) {
            if (row.scope != RowScope::User) continue;
            row.verdict = RowVerdict::Undecided;
            row.reason = reason;
            row.place.clear();
            row.details.clear();
            row.system_zone.reset();
        }
        return;
    }
    const std::wstring root = UserPlaceRoot(choice);
    if (root.empty()) return;
    for (CheckResult& row : rows) {
        NameHive(row.place, root);
        NameHive(row.reason, root);
    }
}

RowCounts Count(const std::vector<CheckResult>& rows) {
    RowCounts counts;
    for (const CheckResult& row : rows) {
        switch (row.verdict) {
            case RowVerdict::Pass: ++counts.pass; break;
            case RowVerdict::Fail: ++counts.fail; break;
            case RowVerdict::Undecided: ++counts.undecided; break;
        }
    }
    return counts;
}

int ExitCodeFor(const std::vector<CheckResult>& rows) {
    const RowCounts counts = Count(rows);
    if (counts.fail > 0) return exit_code::kSomethingFailed;
    if (counts.undecided > 0) return exit_code::kSomethingUndecided;
    return exit_code::kAllPassed;
}

std::string_view VerdictWord(RowVerdict verdict) {
    switch (verdict) {
        case RowVerdict::Pass: return "pass";
        case RowVerdict::Fail: return "fail";
        case RowVerdict::Undecided: return "undecided";
    }
    return "undecided";
}

std::string_view ScopeWord(RowScope scope) { return scope == RowScope::User ? "user" : "machine"; }

}  // namespace qtk::companion
