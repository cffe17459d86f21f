// The diagnostic's one window, as logic: the check sequence it runs from Load and the
// clean-up launch at Unload. The Win32 window (app/win32) owns the controls and raises
// these two events; everything here goes through the platform seam.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "checks/contract.h"
#include "platform/seam.h"

namespace qtk {

inline constexpr std::wstring_view kComputerNameKey =
    L"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName";

class Form2 {
public:
    Form2(const Platform& platform, LabelBoard& labels);

    // Runs the whole check sequence once. A Failure escapes to the caller untouched.
    void Load();

    // Launches the clean-up script, minimized, without waiting. Never writes cancel.
    void Unload(std::int16_t& cancel);

private:
    // The check sequence: each step does its work and, as its last action, calls the
    // next, so all seven run nested inside Load.
    void ShowMachineIdentity();
    void CheckTrustedSitesUser();
    void CheckTrustedSitesMachine();
    void CheckSoftwareInstall();
    void CheckZoneScriptingUser();
    void CheckZoneScriptingMachine();
    void CheckPopupAllowedSites();

    void RunCheckRows(GroupId id);
    std::wstring ReadRegistryString(RegistryKey root, std::wstring_view key_path,
                                    std::wstring_view value_name);

    const Platform& platform_;
    LabelBoard& labels_;
};

}  // namespace qtk
