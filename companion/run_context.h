// Whose settings the user columns describe, and the facts about the run the report states.
//
// A person runs tkexamine as themselves: the user columns are theirs (HKEY_CURRENT_USER).
// A management system runs it as SYSTEM, whose own HKEY_CURRENT_USER means nothing for
// the token key: the user columns are then those of the user at the console, found from
// the console session's token, and read from that user's hive under HKEY_USERS\<SID>.
// --user SID names a user explicitly. Nobody at the console (a desk reached over Remote
// Desktop, a multi-session host): the user of the one active session; with several users
// active there is no telling whose desk is meant, so nobody is examined and the reason
// names them (the caller then names one with --user). With nobody to examine, every user
// row is undecided ("no user logged on"); SYSTEM's own settings are never reported as a
// user's.
//
// Sources:
// - WTSGetActiveConsoleSessionId: "If there is no session attached to the physical
//   console, (for example, if the physical console session is in the process of being
//   attached or detached), this function returns 0xFFFFFFFF."
//   https://learn.microsoft.com/windows/win32/api/winbase/nf-winbase-wtsgetactiveconsolesessionid
// - WTSQueryUserToken: only callable by LocalSystem (SE_TCB_NAME); ERROR_NO_TOKEN when
//   "the token query is for a session in which no user is logged-on".
//   https://learn.microsoft.com/windows/win32/api/wtsapi32/nf-wtsapi32-wtsqueryusertoken
// - WTSEnumerateSessionsW lists the sessions with their WTS_CONNECTSTATE_CLASS state;
//   WTSActive: "A user is logged on to the WinStation. This state occurs when a user is
//   signed in and actively connected to the device." A disconnected session (WTSDisconnected)
//   has a user but nobody at it.
//   https://learn.microsoft.com/windows/win32/api/wtsapi32/nf-wtsapi32-wtsenumeratesessionsw
//   https://learn.microsoft.com/windows/win32/api/wtsapi32/ne-wtsapi32-wts_connectstate_class
// - A loaded user profile's hive is HKEY_USERS\<SID>; HKEY_CURRENT_USER of SYSTEM maps to
//   HKEY_USERS\.DEFAULT, not to any logged-on user ("HKEY_CURRENT_USER" in Predefined Keys,
//   https://learn.microsoft.com/windows/win32/sysinfo/predefined-keys).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "companion/check_result.h"
#include "companion/registry_source.h"
#include "platform/access_list.h"

namespace qtk::companion {

inline constexpr std::wstring_view kNoUserLoggedOn = L"no user logged on";

// What choosing the user asks of the system.
class SessionSource {
public:
    virtual ~SessionSource() = default;
    // The SID of the process's own user, "S-1-5-18" for SYSTEM.
    virtual std::wstring ProcessUserSid() = 0;
    // The console session, or nothing when none is attached (0xFFFFFFFF).
    virtual std::optional<std::uint32_t> ConsoleSession() = 0;
    // The SID of the user logged on to session: 0, or a Windows error number
    // (ERROR_NO_TOKEN 1008 when nobody is logged on there).
    virtual long SessionUserSid(std::uint32_t session, std::wstring* sid) = 0;
    // The sessions a user is actively connected to (WTSActive), the console's among them
    // or not: 0, or a Windows error number when they cannot be listed.
    virtual long ActiveSessions(std::vector<std::uint32_t>* sessions) = 0;
    // "DOMAIN\user", or empty when the account cannot be named.
    virtual std::wstring AccountName(const std::wstring& sid) = 0;
    // Whether HKEY_USERS\<sid> is there to read (the user's profile is loaded).
    virtual bool HiveLoaded(const std::wstring& sid) = 0;
};

inline constexpr long kErrorNoToken = win_error::kNoToken;

// The examined user, and when there is nobody to examine, why (for every user row).
struct UserChoice {
    ExaminedUser user;
    std::wstring unavailable_reason;  // empty when user.logged_on
    std::wstring process_sid;         // the process's own user, for the report
    std::wstring process_name;
    bool as_system = false;
};

// requested_sid: from --user, already checked to be a SID; empty for the default.
UserChoice ChooseUser(SessionSource& sessions, const std::wstring& requested_sid);

// The SID of the examined user as the report names it: the process's own when it is the
// process user.
std::wstring ExaminedSid(const UserChoice& choice);

// Reads the examined user's settings where the examination asks for HKEY_CURRENT_USER:
// unchanged for the process's own user; when there is nobody, every open of a user key
// fails with kNoUserLoggedOn, so that nobody else's settings are ever read in their place.
// Mapping HKCU to HKEY_USERS\<SID> is the platform's side (the Win32 registry source).
class ExaminedUserRegistry : public RegistrySource {
public:
    ExaminedUserRegistry(RegistrySource& inner, bool user_available)
        : inner_(inner), user_available_(user_available) {}
    long OpenKey(Hive hive, std::wstring_view path, View view, KeyHandle* key) override {
        if (hive == Hive::CurrentUser && !user_available_) return reg_error::kNoUserLoggedOn;
        return inner_.OpenKey(hive, path, view, key);
    }
    long ReadDword(KeyHandle key, std::wstring_view name, std::uint32_t* value) override {
        return inner_.ReadDword(key, name, value);
    }
    long ReadString(KeyHandle key, std::wstring_view name, std::wstring* value) override {
        return inner_.ReadString(key, name, value);
    }
    long ListSubkeys(KeyHandle key, std::vector<std::wstring>* names) override {
        return inner_.ListSubkeys(key, names);
    }
    long ListValues(KeyHandle key, std::vector<std::wstring>* names) override {
        return inner_.ListValues(key, names);
    }
    void CloseKey(KeyHandle key) override { inner_.CloseKey(key); }

private:
    RegistrySource& inner_;
    bool user_available_;
};

// The facts the report states about this run besides the rows.
struct RunFacts {
    std::wstring tool_version;
    std::wstring computer_name;
    std::wstring os_version;   // "10.0.19045.4291"; empty when unknown
    UserChoice user;
    bool elevated = false;
    std::optional<std::uint32_t> session_id;
    std::string started_utc;   // "2026-12-07T12:00:00.000Z"
    double duration_seconds = 0;
    bool report_only = false;
    bool markers_written = false;
    std::vector<std::string> skipped_groups;  // left out on the command line
};

// "2026-12-07T12:34:56.789Z" from the parts of a UTC time.
std::string IsoUtc(int year, int month, int day, int hour, int minute, int second,
                   int millisecond);

}  // namespace qtk::companion
