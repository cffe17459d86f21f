// Is a package installed? Installers register under ...\Uninstall\<any key> with a
// DisplayName; a per-machine install lands in HKLM (in the 32-bit view for a 32-bit
// installer on 64-bit Windows), a per-user one in HKCU. All four places are searched.
//
// The name must be the package's whole display name; case and blanks around it do not
// matter, but a longer or shorter name ("... Client 8.2 (x64)", "... Client") is another
// product or another version and does not count.
//
// The places are read once, in one pass that serves every package: each product key is
// opened and its DisplayName read once, however many packages are asked about. The user
// hive's Uninstall key is one key whichever view opens it (HKCU\Software is shared between
// the 64- and 32-bit views, "Registry Keys Affected by WOW64",
// https://learn.microsoft.com/en-us/windows/win32/winprog64/shared-registry-keys), so it
// is read once.
#pragma once

#include <map>
#include <optional>

#include "checks/tables.h"
#include "companion/finding.h"
#include "companion/registry_source.h"

namespace qtk::companion {

// Where a package lives, from its Uninstall entry: the first entry of its name that names
// a folder (InstallLocation, else the folder of DisplayIcon). found is false when no entry
// carries the package's display name; folder is empty when none says.
struct PackagePlace {
    bool found = false;
    std::wstring folder;
    std::wstring entry;  // the Uninstall key, for the report
};

class SoftwareInstallExaminer {
public:
    explicit SoftwareInstallExaminer(RegistrySource& registry);
    Finding Examine(const SoftwarePackage& package) const;
    PackagePlace Locate(const SoftwarePackage& package) const;

private:
    RegistrySource& registry_;
    // Each display name (folded, without the blanks around it) where it was found, in the
    // order the places are searched.
    std::map<std::wstring, std::vector<KeyPlace>> installed_;
    // The first place that could not be searched; it only matters if no place has the
    // package.
    std::optional<Finding> unreadable_;
};

// One package on its own (a whole pass over the places).
Finding ExamineSoftwareInstall(RegistrySource& registry, const SoftwarePackage& package);

// The places searched, in order.
std::vector<KeyPlace> UninstallPlaces();

bool SameDisplayName(std::wstring_view registered, std::wstring_view wanted);

}  // namespace qtk::companion
