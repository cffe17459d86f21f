#include "app/form2.h"

#include "checks/marker.h"
#include "identity/os_line.h"
#include "identity/registry_reader.h"

namespace qtk {

Form2::Form2(const Platform& platform, LabelBoard& labels)
    : platform_(platform), labels_(labels) {}

void Form2::Load() { ShowMachineIdentity(); }

void Form2::Unload(std::int16_t& /*cancel*/) {
    // The script runs on its own; its process id is of no use to us.
    platform_.launcher.Launch(std::wstring(kCleanupScript), kShowMinimized);
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
        ReadVersionLine(platform_.files, platform_.text, std::wstring(kOsVersionFile));

    labels_.Label("comname").SetCaption(computer);
    labels_.Label("os").SetCaption(ComposeOsLine(product, service_pack, version_line));
    CheckTrustedSitesUser();
}

void Form2::RunCheckRows(const CheckGroup& group) {
    for (const CheckRow& row : group.rows) {
        CheckMarkerFile(platform_.files, platform_.text, std::wstring(row.marker),
                        labels_.Label(row.label), group.words);
    }
}

void Form2::CheckTrustedSitesUser() {
    RunCheckRows(TrustedSitesUserGroup());
    CheckTrustedSitesMachine();
}

void Form2::CheckTrustedSitesMachine() {
    RunCheckRows(TrustedSitesMachineGroup());
    CheckSoftwareInstall();
}

void Form2::CheckSoftwareInstall() {
    RunCheckRows(SoftwareInstallGroup());
    CheckZoneScriptingUser();
}

void Form2::CheckZoneScriptingUser() {
    RunCheckRows(ZoneScriptingUserGroup());
    CheckZoneScriptingMachine();
}

void Form2::CheckZoneScriptingMachine() {
    RunCheckRows(ZoneScriptingMachineGroup());
    CheckPopupAllowedSites();
}

void Form2::CheckPopupAllowedSites() { RunCheckRows(PopupAllowedSitesGroup()); }

}  // namespace qtk
