// What a fix of the examined user's own settings would change, row by row: the registry
// values that turn each failing user row of the window's groups into a pass, in the forms
// the examiners read them, and the rows that a policy holds, which the user cannot change.
//
// Only the user's own keys under HKCU are ever named, never HKEY_LOCAL_MACHINE nor a policy
// key, and only for rows that failed (an undecided row is not known to be wrong):
// - a trusted site: ...\Internet Settings\ZoneMap\Domains, the domain key (its last two
//   labels) with the host, or the "*.<sub-domain>" wildcard, as its sub-key, and the DWORD
//   named after the scheme at 2, the Trusted sites zone. A wildcard over a two-label
//   domain is the domain key itself, which speaks for every host below it ("Internet
//   Explorer security zones registry entries for advanced users", KB 182569,
//   https://learn.microsoft.com/en-us/troubleshoot/developer/browsers/security-privacy/ie-security-zones-registry-entries);
// - a setting of the Trusted sites zone: ...\Internet Settings\Zones\2, the DWORD named
//   after the URL action at 0, Enable ("URL Action Flags",
//   https://learn.microsoft.com/en-us/previous-versions/windows/internet-explorer/ie-developer/platform-apis/ms537178(v=vs.85));
// - a pop-up host: the user's ...\New Windows\Allow, a value named after the host.
//
// Held by a policy, and so left alone with the policy named:
// - every user zone row while the machine policy Security_HKLM_only is 1 (the user's own
//   settings are then ignored);
// - a trusted site while the Site to Zone Assignment List is in force for the machine or
//   the user (its switch ListBox_Support_ZoneMapKey at 1): the list replaces the own list;
// - a zone setting that the machine's or the user's policy sets (Policies\...\Zones\2);
// - a pop-up host while a policy allow list is configured for the user or the machine:
//   the administrator then keeps the list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "companion/check_result.h"
#include "companion/registry_source.h"

namespace qtk::companion {

struct RegistryChange {
    std::string row_id;
    KeyPlace key;           // always HKCU, never a policy key
    std::wstring value;
    bool empty_binary = false;  // a pop-up host's value: its data does not matter
    std::uint32_t dword = 0;    // the new data otherwise
};

struct HeldRow {
    std::string row_id;
    std::wstring reason;  // which policy holds it; an administrator must change it
};

struct FixPlan {
    std::vector<RegistryChange> changes;
    std::vector<HeldRow> held;
    std::vector<std::string> machine_rows;  // failing machine rows, never touched
};

// rows: the examination of the user whose hive registry reads as HKCU.
FixPlan PlanFix(const std::vector<CheckResult>& rows, RegistrySource& registry);

}  // namespace qtk::companion
