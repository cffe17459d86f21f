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

long Win32RegistrySource::ReadDword(KeyHandle key, std::wstring_view name, std::uint32_t* value) {
    DWORD data = 0;
    DWORD size = sizeof data;
    // RegGetValueW checks the type for us: ERROR_UNSUPPORTED_TYPE for anything else.
    const LONG result = RegGetValueW(ToHkey(key), nullptr, std::wstring(name).c_str(),
                                     RRF_RT_REG_DWORD, nullptr, &data, &size);
    if (result == ERROR_SUCCESS) *value = data;
    return result;
}

long Win32RegistrySource::ReadString(KeyHandle key, std::wstring_view name, std::wstring* value) {
    const std::wstring value_name(name);
    const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    // The value may grow between the size query and the read; ask again until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        LONG result = RegGetValueW(ToHkey(key), nullptr, value_name.c_str(), flags, nullptr,
                                   nullptr, &size);
        if (result != ERROR_SUCCESS) return result;
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        result = RegGetValueW(ToHkey(key), nullptr, value_name.c_str(), flags, nullptr,
                              buffer.data(), &size);
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS) return result;
        // RegGetValueW terminates the string; a NUL stored inside it ends the name too.
        value->assign(buffer.data());
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
