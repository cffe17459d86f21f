#include "companion/win32/win32_registry.h"

namespace qtk::companion::win32 {
namespace {

HKEY ToHkey(KeyHandle key) { return reinterpret_cast<HKEY>(key); }

// Registry names are limited (255 characters for a key, 16383 for a value), but a buffer
// is grown on ERROR_MORE_DATA all the same rather than trusting those limits.
template <typename Enumerate>
long ListNames(DWORD initial, Enumerate enumerate, std::vector<std::wstring>* names) {
    names->clear();
    std::vector<wchar_t> buffer(initial + 1);
    DWORD index = 0;
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LONG result = enumerate(index, buffer.data(), &length);
        if (result == ERROR_MORE_DATA && buffer.size() < 65536) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS) return result;
        names->emplace_back(buffer.data(), length);
        ++index;
    }
}

}  // namespace

long Win32RegistrySource::OpenKey(Hive hive, std::wstring_view path, View view, KeyHandle* key) {
    REGSAM access = KEY_READ;
    if (view == View::Bits64) access |= KEY_WOW64_64KEY;
    if (view == View::Bits32) access |= KEY_WOW64_32KEY;
    HKEY opened = nullptr;
    HKEY root = hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    std::wstring full(path);
    if (hive == Hive::CurrentUser && !user_sid_.empty()) {
        root = HKEY_USERS;
        full = user_sid_ + L"\\" + full;
    }
    const LONG result = RegOpenKeyExW(root, full.c_str(), 0, access, &opened);
    if (result == ERROR_SUCCESS) *key = reinterpret_cast<KeyHandle>(opened);
    return result;
}

// Both reads look at the type and the size the registry reports before using a byte:
// anyone may store a REG_DWORD of three bytes, or a string of an odd number of bytes, and
// neither is a zone number or a name. "RegQueryValueExW function",
// https://learn.microsoft.com/en-us/windows/win32/api/winreg/nf-winreg-regqueryvalueexw
// (the data "might not be stored with the proper terminating null characters"; the type
// and size are whatever was written).
long Win32RegistrySource::ReadDword(KeyHandle key, std::wstring_view name, std::uint32_t* value) {
    const std::wstring value_name(name);
    DWORD type = REG_NONE;
    unsigned char data[sizeof(DWORD)] = {};
    DWORD size = sizeof data;
    const LONG result =
        RegQueryValueExW(ToHkey(key), value_name.c_str(), nullptr, &type, data, &size);
    if (result == ERROR_MORE_DATA) {
        return type == REG_DWORD ? reg_error::kInvalidData : reg_error::kUnsupportedType;
    }
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_DWORD) return reg_error::kUnsupportedType;
    if (size != sizeof(DWORD)) return reg_error::kInvalidData;
    // REG_DWORD is little-endian, as every Windows this runs on.
    *value = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
             static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    return ERROR_SUCCESS;
}

long Win32RegistrySource::ReadString(KeyHandle key, std::wstring_view name, std::wstring* value) {
    const std::wstring value_name(name);
    // The value may grow between the size query and the read; ask again until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        LONG result = RegQueryValueExW(ToHkey(key), value_name.c_str(), nullptr, &type, nullptr,
                                       &size);
        if (result != ERROR_SUCCESS) return result;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return reg_error::kUnsupportedType;
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        result = RegQueryValueExW(ToHkey(key), value_name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS) return result;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return reg_error::kUnsupportedType;
        if (size % sizeof(wchar_t) != 0) return reg_error::kInvalidData;
        // Stored with or without its terminating NUL; a NUL inside ends the name too.
        const std::size_t chars = size / sizeof(wchar_t);
        std::size_t length = 0;
        while (length < chars && buffer[length] != L'\0') ++length;
        value->assign(buffer.data(), length);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

long Win32RegistrySource::ListSubkeys(KeyHandle key, std::vector<std::wstring>* names) {
    return ListNames(
        256,
        [key](DWORD index, wchar_t* buffer, DWORD* length) {
            return RegEnumKeyExW(ToHkey(key), index, buffer, length, nullptr, nullptr, nullptr,
                                 nullptr);
        },
        names);
}

long Win32RegistrySource::ListValues(KeyHandle key, std::vector<std::wstring>* names) {
    return ListNames(
        1024,
        [key](DWORD index, wchar_t* buffer, DWORD* length) {
            return RegEnumValueW(ToHkey(key), index, buffer, length, nullptr, nullptr, nullptr,
                                 nullptr);
        },
        names);
}

void Win32RegistrySource::CloseKey(KeyHandle key) { RegCloseKey(ToHkey(key)); }

}  // namespace qtk::companion::win32
