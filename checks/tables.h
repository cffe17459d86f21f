// The check groups as data: which marker file paints which status label, and the sites,
// packages and settings the rows stand for. These tables are the one source of the names
// the window shows and the files it reads; nothing is derived from one name to another.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "checks/marker.h"

namespace qtk {

inline constexpr std::wstring_view kMarkerDirectory = L"C:\\tmptk\\";

// One check row: a marker file and the status label it paints.
struct CheckRow {
    std::wstring_view marker;  // absolute path
    std::string_view label;    // layout name of the status label
};

// An ordered list of rows judged with one pair of status words.
struct CheckGroup {
    std::string_view name;
    std::span<const CheckRow> rows;
    StatusWords words;
};

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

// The six check groups of the sequence after the identity step, in check order.
const CheckGroup& TrustedSitesUserGroup();
const CheckGroup& TrustedSitesMachineGroup();
const CheckGroup& SoftwareInstallGroup();
const CheckGroup& ZoneScriptingUserGroup();
const CheckGroup& ZoneScriptingMachineGroup();
const CheckGroup& PopupAllowedSitesGroup();

}  // namespace qtk
