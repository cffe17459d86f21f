#include "platform/access_list.h"

#include <algorithm>
#include <utility>

namespace qtk {
namespace {

bool SameSid(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return (x == L's' ? L'S' : x) == (y == L's' ? L'S' : y);
           });
}

bool Trusted(Trustee trustee) { return trustee != Trustee::Other; }

std::wstring Named(std::wstring_view sid) {
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

}  // namespace

Trustee ClassifySid(std::wstring_view sid, std::wstring_view user_sid) {
    if (!user_sid.empty() && SameSid(sid, user_sid)) return Trustee::CurrentUser;
    if (SameSid(sid, well_known_sid::kAdministrators)) return Trustee::Administrators;
    if (SameSid(sid, well_known_sid::kLocalSystem)) return Trustee::LocalSystem;
    if (SameSid(sid, well_known_sid::kCreatorOwner) || SameSid(sid, well_known_sid::kOwnerRights)) {
        return Trustee::CreatorOwner;
    }
    return Trustee::Other;
}

std::wstring WhoElseMayChange(const SecurityFacts& facts) {
    if (facts.is_link) return L"it is a link to somewhere else";
    std::vector<std::wstring> others;
    if (!facts.has_dacl) {
        others.push_back(Named(well_known_sid::kEveryone));
    } else {
        for (const AccessEntry& entry : facts.entries) {
            if (!entry.allows || entry.inherit_only || Trusted(entry.trustee)) continue;
            if ((entry.mask & change_right::kAny) == 0) continue;
            std::wstring name = Named(entry.sid);
            if (std::find(others.begin(), others.end(), name) == others.end()) {
                others.push_back(std::move(name));
            }
        }
    }
    std::wstring reason;
    if (!others.empty()) {
        for (std::size_t i = 0; i < others.size(); ++i) reason += (i ? L", " : L"") + others[i];
        reason += L" may change it";
    }
    // CREATOR OWNER is no account that can own anything.
    const bool owner_trusted = facts.owner == Trustee::CurrentUser ||
                               facts.owner == Trustee::Administrators ||
                               facts.owner == Trustee::LocalSystem;
    if (!owner_trusted) {
        if (!reason.empty()) reason += L"; ";
        reason += L"it belongs to " + Named(facts.owner_sid);
    }
    return reason;
}

}  // namespace qtk
