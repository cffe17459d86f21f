#include "companion/run_context.h"

#include <algorithm>
#include <cstdio>

namespace qtk::companion {
namespace {

UserChoice Nobody(UserChoice choice, std::wstring reason) {
    choice.user.logged_on = false;
    choice.user.is_process_user = false;
    choice.unavailable_reason = std::move(reason);
    return choice;
}

UserChoice Someone(SessionSource& sessions, UserChoice choice, const std::wstring& sid) {
    choice.user.is_process_user = false;
    choice.user.sid = sid;
    choice.user.name = sessions.AccountName(sid);
    // An unloaded hive would read as "nothing configured" and fail every user row: the
    // user's settings are simply not there to look at.
    if (!sessions.HiveLoaded(sid)) {
        return Nobody(std::move(choice), L"the settings of " + sid +
                                             L" are not loaded (the user is not logged on)");
    }
    return choice;
}

// Nobody at the console: the one user actively connected to another session (Remote
// Desktop, a multi-session host). Several of them leave the choice to whoever runs us.
UserChoice ActiveSessionUser(SessionSource& sessions, UserChoice choice,
                             std::optional<std::uint32_t> console) {
    std::vector<std::uint32_t> active;
    if (const long error = sessions.ActiveSessions(&active); error != 0) {
        return Nobody(std::move(choice),
                      L"no user logged on at the console, and the other sessions cannot be "
                      L"listed (error " + std::to_wstring(error) + L")");
    }
    std::vector<std::wstring> sids;
    std::vector<std::wstring> who;  // as the reason names them
    for (const std::uint32_t session : active) {
        if (session == console) continue;
        std::wstring sid;
        const long error = sessions.SessionUserSid(session, &sid);
        if (error == kErrorNoToken) continue;
        if (error != 0) {
            who.push_back(L"session " + std::to_wstring(session) + L" (error " +
                          std::to_wstring(error) + L")");
            continue;
        }
        // One user in two sessions is still one user.
        if (std::find(sids.begin(), sids.end(), sid) != sids.end()) continue;
        sids.push_back(sid);
        const std::wstring name = sessions.AccountName(sid);
        who.push_back(name.empty() ? sid : name + L" (" + sid + L")");
    }
    if (who.empty()) return Nobody(std::move(choice), std::wstring(kNoUserLoggedOn));
    if (who.size() == 1 && sids.size() == 1) return Someone(sessions, std::move(choice), sids[0]);
    std::wstring names;
    for (const std::wstring& one : who) names += (names.empty() ? L"" : L", ") + one;
    return Nobody(std::move(choice), L"several users are signed in (" + names +
                                         L"); name the one to examine with --user SID");
}

}  // namespace

UserChoice ChooseUser(SessionSource& sessions, const std::wstring& requested_sid) {
    UserChoice choice;
    choice.process_sid = sessions.ProcessUserSid();
    choice.process_name = sessions.AccountName(choice.process_sid);
    choice.as_system = choice.process_sid == well_known_sid::kLocalSystem;

    if (!requested_sid.empty()) {
        // Naming oneself is the ordinary run, through HKCU as always.
        if (requested_sid == choice.process_sid && !choice.as_system) {
            choice.user.name = choice.process_name;
            return choice;
        }
        return Someone(sessions, std::move(choice), requested_sid);
    }
    if (!choice.as_system) {
        choice.user.name = choice.process_name;
        return choice;
    }
    choice.user.name.clear();
    const std::optional<std::uint32_t> console = sessions.ConsoleSession();
    if (console) {
        std::wstring sid;
        const long error = sessions.SessionUserSid(*console, &sid);
        if (error == 0) return Someone(sessions, std::move(choice), sid);
        // Someone may be at the console whom we cannot name: never look past them.
        if (error != kErrorNoToken) {
            return Nobody(std::move(choice), L"cannot find the user at the console (error " +
                                                 std::to_wstring(error) + L")");
        }
    }
    return ActiveSessionUser(sessions, std::move(choice), console);
}

std::wstring ExaminedSid(const UserChoice& choice) {
    return choice.user.is_process_user ? choice.process_sid : choice.user.sid;
}

std::string IsoUtc(int year, int month, int day, int hour, int minute, int second,
                   int millisecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day,
                  hour, minute, second, millisecond);
    return text;
}

}  // namespace qtk::companion
