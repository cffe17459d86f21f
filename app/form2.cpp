#include "app/form2.h"

#include "app/cleanup_launch.h"
#include "checks/marker.h"
#include "identity/os_line.h"
#include "identity/registry_reader.h"

namespace qtk {

Form2::Form2(const Platform& platform, LabelBoard& labels)
    : platform_(platform), labels_(labels) {}

void Form2::Load() { ShowMachineIdentity(); }

void Form2::Unload(std::int16_t& /*cancel*/) {
    const std::wstring script = InMarkerDirectory(kCleanupScriptName);
    LaunchGuard* guard = platform_.launch_guard;
    if (guard && guard->RunsElevated()) {
        std::wstring directory(kMarkerDirectory);
        directory.pop_back();  // the directory itself, not a path inside it
        const auto security_of = [&](const std::wstring& path) {
            try {
                return guard->SecurityOf(path);
            } catch (Failure& failure) {
                failure.action = L"The clean-up script was not started: cannot read who may "
                                 L"change this";
                failure.subject = path;
                throw;
            }
        };
        const SecurityFacts directory_facts = security_of(directory);
        const SecurityFacts script_facts = security_of(script);
        const CleanupDecision decision =
            DecideCleanupLaunch(true, directory_facts, script_facts, directory, script);
        if (!decision.launch) {
            // Reported like any failure at the close: once the window has gone.
            throw Failure{win_error::kAccessDenied,
                          L"The clean-up script was not started: this program runs as an "
                          L"administrator, and others than Administrators, SYSTEM and you "
                          L"could have changed it",
                          decision.reason};
        }
    }
    // The script runs on its own; its process id is of no use to us.
    platform_.launcher.Launch(script, kShowMinimized);
}

std::wstring Form2::ReadRegistryString(RegistryKey root, std::wstring_view key_path,
                                       std::wstring_view value_name) {
    return qtk::ReadRegistryString(platform_.registry, platform_.text, platform_.messages, root,
                                   key_path, value_name);
}

void Form2::ShowMachineIdentity() {
    const std::wstring computer =
        ReadRegistryString(kLocalMachine, kComputerNameKey, L"ComputerName");
    const std::wstring product =
        ReadRegistryString(kLocalMachine, kCurrentVersionKey, L"ProductName");
    const std::wstring service_pack =
        ReadRegistryString(kLocalMachine, kCurrentVersionKey, L"CSDVersion");
    // Read before either label is written: a missing file must leave both untouched.
    const std::wstring version_line =
        ReadVersionLine(platform_.files, platform_.text, InMarkerDirectory(kOsVersionFileName));

    labels_.Label("comname").SetCaption(computer);
    labels_.Label("os").SetCaption(ComposeOsLine(product, service_pack, version_line));
    CheckTrustedSitesUser();
}

void Form2::RunCheckRows(GroupId id) {
    const CheckGroup& group = Group(id);
    for (const CheckRow& row : group.rows) {
        CheckMarkerFile(platform_.files, platform_.text, MarkerPath(row), labels_.Label(row.label),
                        group.words);
    }
}

void Form2::CheckTrustedSitesUser() {
    RunCheckRows(GroupId::TrustedSitesUser);
    CheckTrustedSitesMachine();
}

void Form2::CheckTrustedSitesMachine() {
    RunCheckRows(GroupId::TrustedSitesMachine);
    CheckSoftwareInstall();
}

void Form2::CheckSoftwareInstall() {
    RunCheckRows(GroupId::SoftwareInstall);
    CheckZoneScriptingUser();
}

void Form2::CheckZoneScriptingUser() {
    RunCheckRows(GroupId::ZoneScriptingUser);
    CheckZoneScriptingMachine();
}

void Form2::CheckZoneScriptingMachine() {
    RunCheckRows(GroupId::ZoneScriptingMachine);
    CheckPopupAllowedSites();
}

void Form2::CheckPopupAllowedSites() { RunCheckRows(GroupId::PopupAllowedSites); }

}  // namespace qtk
