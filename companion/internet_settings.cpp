#include "companion/internet_settings.h"

namespace qtk::companion {

View SettingsView(Hive hive) { return hive == Hive::LocalMachine ? View::Bits64 : View::Native; }

KeyPlace InternetSettingsPlace(Hive hive, bool policy, std::wstring_view sub) {
    KeyPlace place{hive, SettingsView(hive),
                   std::wstring(policy ? keys::kPolicyInternetSettings : keys::kInternetSettings)};
    if (!sub.empty()) place = place.Child(sub);
    return place;
}

DwordRead ReadOptionalDword(RegistrySource& registry, const KeyPlace& place,
                            std::wstring_view name) {
    OpenedKey key;
    const long opened = key.Open(registry, place);
    if (opened == reg_error::kFileNotFound || opened == reg_error::kPathNotFound) return {};
    if (opened != reg_error::kSuccess) return {std::nullopt, CannotLook(opened, place)};
    std::uint32_t value = 0;
    const long read = registry.ReadDword(key.Handle(), name, &value);
    if (read == reg_error::kSuccess) return {value, std::nullopt};
    if (read == reg_error::kFileNotFound) return {};
    return {std::nullopt, CannotLook(read, place, name)};
}

MachineOnlyRule ReadMachineOnlyRule(RegistrySource& registry) {
    const DwordRead read = ReadOptionalDword(
        registry, InternetSettingsPlace(Hive::LocalMachine, true), L"Security_HKLM_only");
    MachineOnlyRule rule;
    rule.unreadable = read.unreadable;
    rule.on = read.value == 1u;
    return rule;
}

std::wstring ZoneName(std::uint32_t zone) {
    switch (zone) {
        case 0: return L"My Computer";
        case 1: return L"Local intranet";
        case 2: return L"Trusted sites";
        case 3: return L"Internet";
        case 4: return L"Restricted sites";
        default: return L"zone " + std::to_wstring(zone);
    }
}

}  // namespace qtk::companion
