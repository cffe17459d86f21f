// The rows of the contract's check groups: the sites, packages and settings the rows stand
// for, which marker file paints which status label. These tables are the one source of the
// names the window shows and the files both programs use; nothing is derived from one name
// to another.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "checks/contract.h"

namespace qtk {

// A web site shown in the trusted-sites frame: scheme://host, or scheme://*.domain.
struct TrustedSite {
    std::string_view caption_label;
    std::wstring_view scheme;
    std::wstring_view host;  // exact host, or the domain under a wildcard
    bool wildcard;
    CheckRow user;
    CheckRow machine;
};

// A host on the pop-up blocker's allowed list.
struct PopupSite {
    std::string_view caption_label;
    std::wstring_view host;
    CheckRow row;
};

// A software package whose installation is checked; display_name is what its installer
// registers and what the window shows.
struct SoftwarePackage {
    std::string_view caption_label;
    std::wstring_view display_name;
    CheckRow row;
};

// A URL action of the trusted-sites zone.
struct ZoneSetting {
    std::string_view caption_label;
    std::wstring_view caption;
    unsigned url_action;  // e.g. 1400 for active scripting
    CheckRow user;
    CheckRow machine;
};

inline constexpr std::wstring_view kQuorinDomain = L"qrn.example";

std::span<const TrustedSite> TrustedSites();
std::span<const PopupSite> PopupSites();
std::span<const SoftwarePackage> SoftwarePackages();
std::span<const ZoneSetting> ZoneSettings();

// "https://*.qrn.example" and the like.
std::wstring SiteCaption(const TrustedSite& site);

}  // namespace qtk
