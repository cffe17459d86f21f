#include "companion/directory_acl.h"

#include <algorithm>

namespace qtk::companion {

bool IsTrustedWriter(std::wstring_view sid, std::wstring_view user_sid) {
    // SIDs are spelled with an upper-case S by the system, but compare them as the
    // system would, without regard to case.
    const auto same = [](std::wstring_view a, std::wstring_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
                   return (x == L's' ? L'S' : x) == (y == L's' ? L'S' : y);
               });
    };
    return (!user_sid.empty() && same(sid, user_sid)) || same(sid, sids::kAdministrators) ||
           same(sid, sids::kLocalSystem) || same(sid, sids::kCreatorOwner);
}

DirectoryJudgement JudgeDirectory(const DirectoryFacts& facts, std::wstring_view user_sid) {
    DirectoryJudgement judgement;
    if (!facts.is_directory) {
        judgement.action = DirectoryAction::Refuse;
        judgement.reason = L"it is not a directory";
        return judgement;
    }
    if (facts.is_reparse_point) {
        judgement.action = DirectoryAction::Refuse;
        judgement.reason = L"it is a link to somewhere else (a reparse point)";
        return judgement;
    }
    if (!facts.leads_elsewhere.empty()) {
        judgement.action = DirectoryAction::Refuse;
        judgement.reason = L"it is a link to somewhere else (" + facts.leads_elsewhere + L")";
        return judgement;
    }
    std::wstring reason;
    if (!facts.has_dacl) {
        judgement.writers.push_back(std::wstring(sids::kEveryone));
        reason = L"it has no access list, so everyone may write to it";
    } else {
        for (const AceFact& ace : facts.aces) {
            if (ace.kind != AceKind::Allow && ace.kind != AceKind::OtherAllow) continue;
            if ((ace.mask & rights::kAnyWrite) == 0) continue;
            if (IsTrustedWriter(ace.sid, user_sid)) continue;
            if (std::find(judgement.writers.begin(), judgement.writers.end(), ace.sid) ==
                judgement.writers.end()) {
                judgement.writers.push_back(ace.sid);
            }
        }
        if (!judgement.writers.empty()) {
            reason = L"others may write to it:";
            for (const std::wstring& sid : judgement.writers) reason += L" " + sid;
        }
    }
    // An owner may always rewrite the access list, so a stranger's directory stays theirs
    // however tight its list looks now. It is refused as it is found: taking it over, or
    // tightening its list first and refusing after, would change someone else's directory.
    if (!IsTrustedWriter(facts.owner_sid, user_sid) || facts.owner_sid == sids::kCreatorOwner) {
        judgement.owner_untrusted = true;
        judgement.action = DirectoryAction::Refuse;
        judgement.reason =
            L"it belongs to " + (facts.owner_sid.empty() ? L"nobody" : facts.owner_sid) +
            (reason.empty() ? L"" : L"; " + reason);
        return judgement;
    }
    if (!reason.empty()) {
        judgement.action = DirectoryAction::Tighten;
        judgement.reason = reason;
    }
    return judgement;
}

std::vector<AceSpec> DesiredDacl(std::wstring_view user_sid) {
    return {
        {std::wstring(user_sid), rights::kFullControl},
        {std::wstring(sids::kAdministrators), rights::kFullControl},
        {std::wstring(sids::kLocalSystem), rights::kFullControl},
        {std::wstring(sids::kUsers), rights::kReadAndExecute},
    };
}

}  // namespace qtk::companion
