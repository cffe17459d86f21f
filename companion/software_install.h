// Is a package installed? Installers register under ...\Uninstall\<any key> with a
// DisplayName; a per-machine install lands in HKLM (in the 32-bit view for a 32-bit
// installer on 64-bit Windows), a per-user one in HKCU. All four places are searched.
//
// The name must be the package's whole display name; case and blanks around it do not
// matter, but a longer or shorter name ("... Client 8.2 (x64)", "... Client") is another
// product or another version and does not count.
#pragma once

#include "checks/tables.h"
#include "companion/finding.h"
#include "companion/registry_source.h"

namespace qtk::companion {

Finding ExamineSoftwareInstall(RegistrySource& registry, const SoftwarePackage& package);

// The places searched, in order.
std::vector<KeyPlace> UninstallPlaces();

bool SameDisplayName(std::wstring_view registered, std::wstring_view wanted);

}  // namespace qtk::companion
