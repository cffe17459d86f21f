// The fix's Windows side: the examined user's hive as the one registry the companion
// writes, the user's own local application data folder where the undo file goes, and the
// undo file itself.
//
// Sources:
// - HKEY_CURRENT_USER of a service running as SYSTEM is not any logged-on user's; a loaded
//   profile's hive is HKEY_USERS\<SID> ("Predefined Keys",
//   https://learn.microsoft.com/windows/win32/sysinfo/predefined-keys).
// - FOLDERID_LocalAppData, default %USERPROFILE%\AppData\Local ("KNOWNFOLDERID",
//   https://learn.microsoft.com/windows/win32/shell/knownfolderid); for the process's own
//   user SHGetKnownFolderPath answers. For another user the shell keeps the folder in that
//   user's hive, ...\Explorer\User Shell Folders, value "Local AppData" (REG_EXPAND_SZ over
//   %USERPROFILE%), and the profile's folder in
//   HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\<SID>, value ProfileImagePath ("User Profiles",
//   https://learn.microsoft.com/windows/win32/shell/user-profiles).
// - RegSetValueExW replaces a value whole; RegDeleteKeyW deletes a key without sub-keys
//   ("RegDeleteKeyW", https://learn.microsoft.com/windows/win32/api/winreg/nf-winreg-regdeletekeyw).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "companion/run_context.h"
#include "companion/user_fix.h"
#include "platform/failure.h"

namespace qtk::companion::win32 {

class Win32UserHive : public UserHive {
public:
    // user_sid: empty for the process's own user (HKEY_CURRENT_USER).
    explicit Win32UserHive(std::wstring user_sid);

    long ReadValue(std::wstring_view key, std::wstring_view name, RawValue* value) override;
    long KeyExists(std::wstring_view key, bool* exists) override;
    long SetValue(std::wstring_view key, std::wstring_view name, const RawValue& value) override;
    long DeleteValue(std::wstring_view key, std::wstring_view name) override;
    long DeleteKeyIfEmpty(std::wstring_view key) override;

private:
    std::wstring Full(std::wstring_view key) const;

    HKEY root_;
    std::wstring prefix_;  // "<SID>\" under HKEY_USERS
};

// The examined user's %LOCALAPPDATA%, or a Failure saying why it is not known.
std::wstring UserLocalAppData(const UserChoice& user);

// Writes the undo file under local_app_data\QUORIN\Token Key Check\undo, as a new file
// of its own name, flushed to the disk before this returns; returns its path. For another
// user's profile, refuses a folder on the way that is a link (a junction, a symbolic link)
// and holds each one until the file is written. Throws Failure.
std::wstring WriteUndoFile(const std::wstring& local_app_data, const std::string& made_utc,
                           const std::string& bytes, bool for_another_user);

// The file's bytes, at most a megabyte (an undo file is a few kilobytes). Throws Failure.
std::string ReadUndoFile(const std::wstring& path);

}  // namespace qtk::companion::win32
