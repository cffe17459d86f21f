#include "companion/zone_scripting.h"

#include <initializer_list>
#include <utility>

namespace qtk::companion {
namespace {

struct Source {
    Hive hive;
    bool policy;
};

Finding FirstSet(RegistrySource& registry, const ZoneSetting& setting,
                 std::initializer_list<Source> sources) {
    const std::wstring name = std::to_wstring(setting.url_action);
    std::wstring looked;
    for (const Source& source : sources) {
        const KeyPlace place = InternetSettingsPlace(source.hive, source.policy, L"Zones\\2");
        const DwordRead read = ReadOptionalDword(registry, place, name);
        if (read.unreadable) return *read.unreadable;
        if (!looked.empty()) looked += L", ";
        looked += DescribePlace(place);
        if (!read.value) continue;
        std::wstring where = DescribePlace(place) + L" value " + name;
        const std::wstring reason = std::wstring(setting.caption) + L": " +
                                    UrlActionValueName(*read.value) + L" (" + where + L")";
        return *read.value == 0 ? Ok(reason, std::move(where)) : Fail(reason, std::move(where));
    }
    return Fail(std::wstring(setting.caption) + L": not set (value " + name + L" under " + looked +
                L")", looked);
}

}  // namespace

ZoneScriptingExaminer::ZoneScriptingExaminer(RegistrySource& registry)
    : registry_(registry), machine_only_(ReadMachineOnlyRule(registry)) {}

std::wstring UrlActionValueName(std::uint32_t value) {
    switch (value) {
        case 0: return L"Enable";
        case 1: return L"Prompt";
        case 3: return L"Disable";
        default: return L"set to " + std::to_wstring(value);
    }
}

Finding ZoneScriptingExaminer::Machine(const ZoneSetting& setting) {
    return FirstSet(registry_, setting, {{Hive::LocalMachine, true}, {Hive::LocalMachine, false}});
}

Finding ZoneScriptingExaminer::Examine(const ZoneSetting& setting, Hive scope) {
    if (scope == Hive::LocalMachine) return Machine(setting);
    if (machine_only_.unreadable) return *machine_only_.unreadable;
    if (machine_only_.on) {
        Finding finding = Machine(setting);
        finding.reason = L"machine settings only (Security_HKLM_only): " + finding.reason;
        return finding;
    }
    return FirstSet(registry_, setting,
                    {{Hive::LocalMachine, true}, {Hive::CurrentUser, true},
                     {Hive::CurrentUser, false}});
}

}  // namespace qtk::companion
