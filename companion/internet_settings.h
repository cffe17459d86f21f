// Facts about the browser's security settings that more than one check depends on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "companion/finding.h"
#include "companion/registry_source.h"

namespace qtk::companion {

// Settings under HKLM are read through the 64-bit view, where the browser of a 64-bit
// system keeps them, even from the 32-bit build; HKCU has only one.
View SettingsView(Hive hive);

// HKLM|HKCU\Software\[Policies\]Microsoft\Windows\CurrentVersion\Internet Settings[\sub]
KeyPlace InternetSettingsPlace(Hive hive, bool policy, std::wstring_view sub = {});

// "Security_HKLM_only": when the machine policy sets it to 1, the browser ignores every
// user's own zone settings and uses the machine's for everyone.
struct MachineOnlyRule {
    bool on = false;
    std::optional<Finding> unreadable;  // set when the policy could not be read
};
MachineOnlyRule ReadMachineOnlyRule(RegistrySource& registry);

// A DWORD value that may be missing. A missing key or value is an answer (absent); any
// other error, or a value of another type, is reported as the finding that says so.
struct DwordRead {
    std::optional<std::uint32_t> value;
    std::optional<Finding> unreadable;
};
DwordRead ReadOptionalDword(RegistrySource& registry, const KeyPlace& place,
                            std::wstring_view name);

// The security zones by number, as the browser names them.
std::wstring ZoneName(std::uint32_t zone);
inline constexpr std::uint32_t kTrustedSitesZone = 2;

}  // namespace qtk::companion
