// Is a host on the pop-up blocker's allowed sites? The lists are keys whose value names
// are hosts ("tesk.qrn.example") or wildcards ("*.qrn.example"); the data does not matter.
//
// Lists consulted, any one of which allows the host: the user's own list (HKCU ...\New
// Windows\Allow), the user policy and the machine policy (...\Policies\...\New
// Windows\Allow). There is no machine-wide list of one's own that the browser reads for
// a user, so HKLM outside the policy branch is not looked at. The lists add up: each one
// names sites the pop-up blocker lets open pop-up windows, none takes anything away from
// another, so their order does not matter. A list that cannot be read (the first or any
// other) only matters when no other list allows the host: the finding is then "cannot
// look"; when another list allows it, the host passes.
//
// Sources: "AllowedSites" (Microsoft-Windows-IE-InternetExplorer),
// https://learn.microsoft.com/en-us/windows-hardware/customize/desktop/unattend/microsoft-windows-ie-internetexplorer-allowedsites
// ("the Internet sites that the Pop-up Blocker enables to use pop-up windows"); the
// "Pop-up allow list" Group Policy setting (Windows Components\Internet Explorer), which
// writes the policy lists read here and lets a user keep adding sites to their own list
// when it is not configured.
#pragma once

#include <optional>
#include <vector>

#include "checks/tables.h"
#include "companion/finding.h"
#include "companion/registry_source.h"
#include "companion/site_names.h"

namespace qtk::companion {

class PopupExaminer {
public:
    explicit PopupExaminer(RegistrySource& registry);
    Finding Examine(const PopupSite& site) const;

    // The lists, in the order they are consulted.
    static std::vector<KeyPlace> Places();

private:
    struct Entry {
        std::wstring name;  // as listed, for the reason
        SitePattern pattern;
    };
    struct List {
        KeyPlace place;
        std::optional<Finding> unreadable;
        std::vector<Entry> entries;  // the names that name a host, parsed once
    };
    std::vector<List> lists_;
};

}  // namespace qtk::companion
