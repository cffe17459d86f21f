#include "companion/run_context.h"

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
    const std::optional<std::uint32_t> session = sessions.ConsoleSession();
    if (!session) return Nobody(std::move(choice), std::wstring(kNoUserLoggedOn));
    std::wstring sid;
    const long error = sessions.SessionUserSid(*session, &sid);
    if (error == kErrorNoToken) return Nobody(std::move(choice), std::wstring(kNoUserLoggedOn));
    if (error != 0) {
        return Nobody(std::move(choice), L"cannot find the user at the console (error " +
                                             std::to_wstring(error) + L")");
    }
    return Someone(sessions, std::move(choice), sid);
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
