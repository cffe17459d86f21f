// What the browser in use decides, added to the report after the marker rows: Windows' own
// zone beside each trusted site's user row (asked only for the process's own user), and
// Edge's IE-mode group. The platform supplies the zone manager, the fetcher and the parser.
#pragma once

#include <vector>

#include "companion/check_result.h"
#include "companion/ie_mode.h"
#include "companion/registry_source.h"
#include "companion/run_context.h"
#include "companion/system_zone.h"

namespace qtk::companion {

struct BrowserSeams {
    ZoneMapper& zones;
    SiteListFetcher& fetcher;
    SiteListParser& parser;
};

// registry reads HKCU as the chosen user's hive, as for the marker rows; with nobody to
// examine, no user key is opened and the user's rows say why. Without ie_mode only the
// system's zones are added (the IE-mode group was left out of the run).
void AddBrowserChecks(std::vector<CheckResult>& rows, RegistrySource& registry,
                      const UserChoice& choice, const BrowserSeams& seams, bool ie_mode = true);

}  // namespace qtk::companion
