#include "companion/directory_acl.h"

namespace qtk::companion {

DirectoryJudgement JudgeDirectory(const DirectoryFacts& facts) {
    DirectoryJudgement judgement;
    if (!facts.is_directory) {
        judgement.action = DirectoryAction::Refuse;
        judgement.reason = L"it is not a directory";
        return judgement;
    }
    if (facts.security.is_link) {
        judgement.action = DirectoryAction::Refuse;
        judgement.reason = L"it is a link to somewhere else (a reparse point)";
        return judgement;
    }
    if (!facts.leads_elsewhere.empty()) {
        judgement.action = DirectoryAction::Refuse;
        judgement.reason = L"it is a link to somewhere else (" + facts.leads_elsewhere + L")";
        return judgement;
    }
    // What the companion creates inside inherits the list, so an entry handed down to
    // new files lets others change the markers and the script as much as one on the
    // directory itself.
    const ChangeJudgement change = JudgeChange(facts.security, Reach::AndWhatItHandsDown);
    judgement.writers = change.others;
    std::wstring reason;
    if (!facts.security.has_dacl) {
        reason = L"it has no access list, so everyone may write to it";
    } else if (!judgement.writers.empty()) {
        reason = L"others may write to it:";
        for (const std::wstring& sid : judgement.writers) reason += L" " + SidForPerson(sid);
    }
    // A stranger's directory stays theirs however tight its list looks now. It is refused
    // as it is found: taking it over, or tightening its list first and refusing after,
    // would change someone else's directory.
    if (!change.owner_trusted) {
        judgement.owner_untrusted = true;
        judgement.action = DirectoryAction::Refuse;
        judgement.reason = L"it belongs to " +
                           (facts.security.owner_sid.empty() ? std::wstring(L"nobody")
                                                             : facts.security.owner_sid) +
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
