// Is a URL action of the Trusted sites zone set to Enable (0), for the user and for the
// machine? The value named after the action ("1400") under ...\Internet Settings\Zones\2.
//
// Where the answer comes from, first that has the value:
// - machine: the machine policy, then the machine's own setting;
// - user: with the machine policy "Security_HKLM_only" at 1, the machine's answer (the
//   browser then applies the machine's settings to every user); otherwise the machine
//   policy, then the user policy, then the user's own setting.
// A value set nowhere is a fail: the zone's security level then decides, and the kit
// wants the action enabled explicitly, not by a level that anyone may move.
#pragma once

#include "checks/tables.h"
#include "companion/finding.h"
#include "companion/internet_settings.h"
#include "companion/registry_source.h"

namespace qtk::companion {

class ZoneScriptingExaminer {
public:
    explicit ZoneScriptingExaminer(RegistrySource& registry);
    Finding Examine(const ZoneSetting& setting, Hive scope);

private:
    Finding Machine(const ZoneSetting& setting);

    RegistrySource& registry_;
    MachineOnlyRule machine_only_;
};

// "Enable", "Prompt", "Disable", or the number for anything else.
std::wstring UrlActionValueName(std::uint32_t value);

}  // namespace qtk::companion
