// Is a host on the pop-up blocker's allowed sites? The lists are keys whose value names
// are hosts ("tesk.qrn.example") or wildcards ("*.qrn.example"); the data does not matter.
//
// Lists consulted, any one of which allows the host: the user's own list (HKCU ...\New
// Windows\Allow), the user policy and the machine policy (...\Policies\...\New
// Windows\Allow). There is no machine-wide list of one's own that the browser reads for
// a user, so HKLM outside the policy branch is not looked at. A list that cannot be read
// only matters when no other list allows the host: the finding is then "cannot look".
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
