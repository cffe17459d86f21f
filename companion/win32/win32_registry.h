// The companion's registry seam over advapi32's wide functions, read-only.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "companion/registry_source.h"

namespace qtk::companion::win32 {

class Win32RegistrySource : public RegistrySource {
public:
    Win32RegistrySource() = default;
    // HKCU then stands for HKEY_USERS\<user_sid>: another user's settings, as they are
    // while that user is logged on.
    explicit Win32RegistrySource(std::wstring user_sid) : user_sid_(std::move(user_sid)) {}

    long OpenKey(Hive hive, std::wstring_view path, View view, KeyHandle* key) override;
    long ReadDword(KeyHandle key, std::wstring_view name, std::uint32_t* value) override;
    long ReadString(KeyHandle key, std::wstring_view name, std::wstring* value) override;
    long ListSubkeys(KeyHandle key, std::vector<std::wstring>* names) override;
    long ListValues(KeyHandle key, std::vector<std::wstring>* names) override;
    void CloseKey(KeyHandle key) override;

private:
    std::wstring user_sid_;
};

}  // namespace qtk::companion::win32
