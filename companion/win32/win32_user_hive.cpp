#include "companion/win32/win32_user_hive.h"

#include <objbase.h>

#include <algorithm>
#include <vector>

#include "companion/win32/win32_output.h"
#include "platform/win32/system_library.h"
#include "platform/win32/win32_platform.h"

namespace qtk::companion::win32 {
namespace {

// FOLDERID_LocalAppData, spelt out so that no GUID library is needed.
constexpr GUID kLocalAppData = {0xf1b32785, 0x6fba, 0x4fcf,
                                {0x9d, 0x55, 0x7b, 0x8e, 0x7f, 0x15, 0x70, 0x91}};

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    LONG Open(HKEY root, const std::wstring& path, REGSAM access) {
        return RegOpenKeyExW(root, path.c_str(), 0, access, &key_);
    }
    LONG Create(HKEY root, const std::wstring& path, REGSAM access) {
        return RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                               nullptr, &key_, nullptr);
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// A value's type and bytes exactly as stored, grown on ERROR_MORE_DATA: the value may
// grow between the size query and the read.
LONG QueryRaw(HKEY key, const std::wstring& name, RawValue* value) {
    std::vector<BYTE> data(64);
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(data.size());
        const LONG result = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
        if (result == ERROR_MORE_DATA) {
            data.resize(size + 64);
            continue;
        }
        if (result != ERROR_SUCCESS) return result;
        value->type = type;
        value->data.assign(data.begin(), data.begin() + size);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

std::wstring Expand(const std::wstring& text) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0) return text;
    std::wstring expanded(needed, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    if (written == 0 || written > needed) return text;
    expanded.resize(written - 1);
    return expanded;
}

// A REG_SZ or REG_EXPAND_SZ as text, or nothing.
std::optional<std::wstring> ReadText(HKEY root, const std::wstring& path, const wchar_t* name) {
    Key key;
    if (key.Open(root, path, KEY_QUERY_VALUE) != ERROR_SUCCESS) return std::nullopt;
    RawValue raw;
    if (QueryRaw(key.get(), name, &raw) != ERROR_SUCCESS) return std::nullopt;
    if ((raw.type != REG_SZ && raw.type != REG_EXPAND_SZ) || raw.data.size() % 2 != 0) return std::nullopt;
    std::wstring text(raw.data.size() / 2, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<wchar_t>(raw.data[2 * i] | raw.data[2 * i + 1] << 8);
    }
    text.resize(text.find(L'\0') == std::wstring::npos ? text.size() : text.find(L'\0'));
    if (text.empty()) return std::nullopt;
    return text;
}

// The folders on the way to the undo file, each opened as itself (a link is not followed)
// and held without delete sharing until the file is written, so that none of them can be
// renamed away and replaced by a link in the meantime.
class PinnedFolders {
public:
    PinnedFolders() = default;
    PinnedFolders(const PinnedFolders&) = delete;
    PinnedFolders& operator=(const PinnedFolders&) = delete;
    ~PinnedFolders() {
        for (HANDLE handle : handles_) CloseHandle(handle);
    }
    // 0, or why the folder cannot be one on the way.
    DWORD Pin(const std::wstring& folder) {
        HANDLE handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return GetLastError();
        handles_.push_back(handle);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(handle, &info)) return GetLastError();
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return ERROR_CANT_ACCESS_FILE;
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_DIRECTORY;
        return ERROR_SUCCESS;
    }

private:
    std::vector<HANDLE> handles_;
};

}  // namespace

Win32UserHive::Win32UserHive(std::wstring user_sid)
    : root_(user_sid.empty() ? HKEY_CURRENT_USER : HKEY_USERS),
      prefix_(user_sid.empty() ? std::wstring() : user_sid + L"\\") {}

std::wstring Win32UserHive::Full(std::wstring_view key) const { return prefix_ + std::wstring(key); }

long Win32UserHive::ReadValue(std::wstring_view path, std::wstring_view name, RawValue* value) {
    Key key;
    const LONG opened = key.Open(root_, Full(path), KEY_QUERY_VALUE);
    if (opened != ERROR_SUCCESS) return opened;
    return QueryRaw(key.get(), std::wstring(name), value);
}

long Win32UserHive::KeyExists(std::wstring_view path, bool* exists) {
    Key key;
    const LONG opened = key.Open(root_, Full(path), KEY_QUERY_VALUE);
    *exists = opened == ERROR_SUCCESS;
    return opened == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : opened;
}

long Win32UserHive::SetValue(std::wstring_view path, std::wstring_view name, const RawValue& value) {
    Key key;
    const LONG created = key.Create(root_, Full(path), KEY_SET_VALUE);
    if (created != ERROR_SUCCESS) return created;
    return RegSetValueExW(key.get(), std::wstring(name).c_str(), 0, value.type,
                          value.data.empty() ? nullptr : value.data.data(),
                          static_cast<DWORD>(value.data.size()));
}

long Win32UserHive::DeleteValue(std::wstring_view path, std::wstring_view name) {
    Key key;
    const LONG opened = key.Open(root_, Full(path), KEY_SET_VALUE);
    if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (opened != ERROR_SUCCESS) return opened;
    const LONG deleted = RegDeleteValueW(key.get(), std::wstring(name).c_str());
    return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
}

long Win32UserHive::DeleteKeyIfEmpty(std::wstring_view path) {
    const std::wstring full = Full(path);
    {
        Key key;
        const LONG opened = key.Open(root_, full, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
        if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        if (opened != ERROR_SUCCESS) return opened;
        DWORD subkeys = 0;
        DWORD values = 0;
        const LONG queried = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                              nullptr, &values, nullptr, nullptr, nullptr, nullptr);
        if (queried != ERROR_SUCCESS) return queried;
        if (subkeys != 0 || values != 0) return ERROR_SUCCESS;
    }
    const LONG deleted = RegDeleteKeyW(root_, full.c_str());
    return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
}

std::wstring UserLocalAppData(const UserChoice& user) {
    if (user.user.is_process_user) {
        qtk::win32::SystemLibrary shell32(L"shell32.dll");
        using KnownFolderFn = HRESULT(WINAPI*)(REFGUID, DWORD, HANDLE, PWSTR*);
        const auto known_folder = shell32.Find<KnownFolderFn>("SHGetKnownFolderPath");
        if (known_folder == nullptr) {
            throw Failure{ERROR_PROC_NOT_FOUND, L"Cannot find the user's local application data folder",
                          L"SHGetKnownFolderPath"};
        }
        PWSTR folder = nullptr;
        const HRESULT found = known_folder(kLocalAppData, 0, nullptr, &folder);
        if (FAILED(found)) {
            if (folder != nullptr) CoTaskMemFree(folder);
            throw Failure{static_cast<std::uint32_t>(found),
                          L"Cannot find the user's local application data folder", L"FOLDERID_LocalAppData"};
        }
        std::wstring path = folder;
        CoTaskMemFree(folder);
        return path;
    }
    // Another user's: from their hive and their profile, as the shell keeps them.
    const std::wstring sid = user.user.sid;
    const std::wstring profile_key =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid;
    const std::optional<std::wstring> profile = ReadText(HKEY_LOCAL_MACHINE, profile_key, L"ProfileImagePath");
    if (!profile) {
        throw Failure{ERROR_FILE_NOT_FOUND, L"Cannot find the user's profile folder",
                      L"HKLM\\" + profile_key + L" value ProfileImagePath"};
    }
    const std::wstring profile_path = Expand(*profile);
    const std::optional<std::wstring> local = ReadText(
        HKEY_USERS, sid + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
        L"Local AppData");
    if (!local) return profile_path + L"\\AppData\\Local";
    std::wstring path = *local;
    constexpr std::wstring_view kProfile = L"%USERPROFILE%";
    if (path.size() >= kProfile.size() && SameName(std::wstring_view(path).substr(0, kProfile.size()), kProfile)) {
        path.replace(0, kProfile.size(), profile_path);
    }
    return Expand(path);
}

std::wstring WriteUndoFile(const std::wstring& local_app_data, const std::string& made_utc,
                           const std::string& bytes, bool for_another_user) {
    constexpr wchar_t kAction[] = L"Cannot write the undo file; nothing was changed";
    // Writing into another user's profile (as SYSTEM, say), no folder on the way may be a
    // link: the user could point one at a place only this process may write to.
    const bool drive_path = local_app_data.size() > 3 && local_app_data[1] == L':' && local_app_data[2] == L'\\';
    if (for_another_user && !drive_path) throw Failure{ERROR_BAD_PATHNAME, kAction, local_app_data};
    PinnedFolders pinned;
    std::wstring folder;
    std::size_t at = drive_path ? 3 : local_app_data.size();
    if (for_another_user) {
        folder = local_app_data.substr(0, 2);
        while (at <= local_app_data.size()) {
            const std::size_t cut = std::min(local_app_data.find(L'\\', at), local_app_data.size());
            if (cut > at) {
                folder = local_app_data.substr(0, cut);
                if (const DWORD refused = pinned.Pin(folder)) throw Failure{refused, kAction, folder};
            }
            at = cut + 1;
        }
    }
    folder = local_app_data;
    for (const wchar_t* part : {L"QUORIN", L"Token Key Check", L"undo"}) {
        folder += L"\\";
        folder += part;
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            throw Failure{GetLastError(), kAction, folder};
        }
        if (for_another_user) {
            if (const DWORD refused = pinned.Pin(folder)) throw Failure{refused, kAction, folder};
        }
    }
    // "2026-12-08T10:00:00.000Z" -> "fix-20261208T100000Z-<tag>.json"
    std::wstring stamp;
    for (const char c : made_utc.substr(0, 19)) {
        if (c != '-' && c != ':') stamp += static_cast<wchar_t>(c);
    }
    const std::wstring path = folder + L"\\fix-" + stamp + L"Z-" + RandomTag().substr(0, 8) + L".json";
    // A new file of its own name: never one that is there already, link or not.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw Failure{GetLastError(), kAction, path};
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    DWORD error = wrote && written == bytes.size() ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
    CloseHandle(file);
    if (error != ERROR_SUCCESS) {
        DeleteFileW(path.c_str());
        throw Failure{error, kAction, path};
    }
    return path;
}

std::string ReadUndoFile(const std::wstring& path) {
    constexpr wchar_t kAction[] = L"Cannot read the undo file";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw Failure{GetLastError(), kAction, path};
    constexpr DWORD kLimit = 1 << 20;
    std::string bytes(kLimit + 1, '\0');
    DWORD total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, bytes.data() + total, kLimit + 1 - total, &got, nullptr)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            throw Failure{error, kAction, path};
        }
        if (got == 0 || total + got > kLimit) {
            total += got;
            break;
        }
        total += got;
    }
    CloseHandle(file);
    if (total > kLimit) throw Failure{ERROR_FILE_TOO_LARGE, L"The undo file is too large to be one", path};
    bytes.resize(total);
    return bytes;
}

}  // namespace qtk::companion::win32
