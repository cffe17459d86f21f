// The companion's registry seam over advapi32's wide functions, read-only.
#pragma once

#include <windows.h>

#include "companion/registry_source.h"

namespace qtk::companion::win32 {

class Win32RegistrySource : public RegistrySource {
public:
    long OpenKey(Hive hive, std::wstring_view path, View view, KeyHandle* key) override;
    long ReadDword(KeyHandle key, std::wstring_view name, std::uint32_t* value) override;
    long ReadString(KeyHandle key, std::wstring_view name, std::wstring* value) override;
    long ListSubkeys(KeyHandle key, std::vector<std::wstring>* names) override;
    long ListValues(KeyHandle key, std::vector<std::wstring>* names) override;
    void CloseKey(KeyHandle key) override;
};

}  // namespace qtk::companion::win32
