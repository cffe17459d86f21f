#include "platform/access_list.h"

#include <algorithm>
#include <utility>

namespace qtk {
namespace {

bool Trusted(Trustee trustee) {
    return trustee == Trustee::CurrentUser || trustee == Trustee::Administrators ||
           trustee == Trustee::LocalSystem;
}

// Whether an allowing entry that grants a change gives it to someone other than the
// trusted, on the object or, when asked, on what it hands down.
bool GivesOthers(const AccessEntry& entry, Reach reach) {
    if (!entry.allows || (entry.mask & change_right::kAny) == 0) return false;
    const bool on_itself = !entry.inherit_only;
    const bool on_what_is_inside = reach == Reach::AndWhatItHandsDown && entry.handed_down;
    if (!on_itself && !on_what_is_inside) return false;
    switch (entry.trustee) {
        case Trustee::CurrentUser:
        case Trustee::Administrators:
        case Trustee::LocalSystem: return false;
        // Nobody on the object itself; handed down, whoever creates the new object, who
        // needs a change right here first and is judged by that entry.
        case Trustee::CreatorOwner: return false;
        // The owner's own rights: a trusted owner's are trusted, and an untrusted owner
        // makes the object someone else's on its own.
        case Trustee::OwnerRights: return false;
        case Trustee::Other: break;
    }
    return true;
}

}  // namespace

bool SameSid(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return (x == L's' ? L'S' : x) == (y == L's' ? L'S' : y);
           });
}

Trustee ClassifySid(std::wstring_view sid, std::wstring_view user_sid) {
    if (!user_sid.empty() && SameSid(sid, user_sid)) return Trustee::CurrentUser;
    if (SameSid(sid, well_known_sid::kAdministrators)) return Trustee::Administrators;
    if (SameSid(sid, well_known_sid::kLocalSystem)) return Trustee::LocalSystem;
    if (SameSid(sid, well_known_sid::kCreatorOwner)) return Trustee::CreatorOwner;
    if (SameSid(sid, well_known_sid::kOwnerRights)) return Trustee::OwnerRights;
    return Trustee::Other;
}

ChangeJudgement JudgeChange(const SecurityFacts& facts, Reach reach) {
    ChangeJudgement judgement;
    judgement.owner_trusted = Trusted(facts.owner);
    if (!facts.has_dacl) {
        judgement.others.emplace_back(well_known_sid::kEveryone);
        return judgement;
    }
    for (const AccessEntry& entry : facts.entries) {
        if (!GivesOthers(entry, reach)) continue;
        const auto same = [&](const std::wstring& sid) { return SameSid(sid, entry.sid); };
        const bool named = std::any_of(judgement.others.begin(), judgement.others.end(), same);
        if (!named) judgement.others.push_back(entry.sid);
    }
    return judgement;
}

std::wstring SidForPerson(std::wstring_view sid) {
    static constexpr std::pair<std::wstring_view, std::wstring_view> kNames[] = {
        {well_known_sid::kEveryone, L"Everyone"},
        {well_known_sid::kAuthenticatedUsers, L"Authenticated Users"},
        {well_known_sid::kUsers, L"Users"},
    };
    for (const auto& [known, name] : kNames) {
        if (SameSid(sid, known)) return std::wstring(name) + L" (" + std::wstring(sid) + L")";
    }
    return sid.empty() ? std::wstring(L"an unknown account") : std::wstring(sid);
}

std::wstring WhoElseMayChange(const SecurityFacts& facts) {
    if (facts.is_link) return L"it is a link to somewhere else";
    const ChangeJudgement judgement = JudgeChange(facts, Reach::Itself);
    std::wstring reason;
    for (std::size_t i = 0; i < judgement.others.size(); ++i) {
        reason += (i ? L", " : L"") + SidForPerson(judgement.others[i]);
    }
    if (!reason.empty()) reason += L" may change it";
    if (!judgement.owner_trusted) {
        if (!reason.empty()) reason += L"; ";
        reason += L"it belongs to " + SidForPerson(facts.owner_sid);
    }
    return reason;
}

}  // namespace qtk
