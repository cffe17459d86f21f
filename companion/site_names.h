// Host names and the two ways site lists name hosts: one exact host, or "*.domain" for
// every host below a domain. Shared by the trusted-sites and the pop-up checks.
//
// A wildcard covers the hosts strictly below its domain, never the domain itself:
// "*.qrn.example" covers "tesk.qrn.example" (and "a.tesk.qrn.example"), while
// "*.tesk.qrn.example" does not cover "tesk.qrn.example". Reading it the other way would
// report a host as covered on the strength of an entry the browser may not apply to it;
// the kit would rather show a fail that a person can fix by adding the host itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qtk::companion {

struct SitePattern {
    bool wildcard = false;  // every host strictly below `host`
    std::wstring host;      // lower case, no trailing dot

    bool operator==(const SitePattern&) const = default;
};

// "https://*.qrn.example", "qrn.example", "*://tesk.qrn.example:443/path" and the like.
struct SiteName {
    std::wstring scheme;  // lower case; empty when the name applies to every scheme
    SitePattern pattern;
};

// Accepts an optional "scheme://" ("*" meaning every scheme), a host or "*." and a
// domain, and drops a port and a path. Gives nothing for what cannot name a host ("",
// "*", "http://", a wildcard anywhere but at the start).
std::optional<SiteName> ParseSiteName(std::wstring_view text);

bool Covers(const SitePattern& pattern, std::wstring_view host);

// The patterns that could decide about `row`, most specific first: for one host, the
// host itself and then the wildcard over each enclosing domain; for a wildcard, that
// wildcard and then each broader one. An exact host never decides about a whole domain.
std::vector<SitePattern> DecidingPatterns(const SitePattern& row);

// "https://tesk.qrn.example", "https://*.qrn.example"; scheme may be empty ("tesk...").
std::wstring DescribeSite(std::wstring_view scheme, const SitePattern& pattern);

}  // namespace qtk::companion
