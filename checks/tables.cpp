#include "checks/tables.h"

#include <array>

namespace qtk {
namespace {

constexpr std::array<TrustedSite, 11> kTrustedSites{{
    {"lbteskquorin", L"https", L"tesk.qrn.example", false,
     {L"www_tesk.txt", "userteskquorin"}, {L"mwww_tesk.txt", "mteskquorin"}},
    {"lbhalvekgo", L"https", L"halvek.example", true,
     {L"www_halvek_go.txt", "userhalvekgo"},
     {L"mwww_halvek_go.txt", "mhalvekgo"}},
    {"lbhalvekor", L"https", L"hvk.example", true,
     {L"www_halvek_or.txt", "userhalvekor"},
     {L"mwww_halvek_or.txt", "mhalvekor"}},
    {"lbhalvekquorin", L"https", L"hvk.qrn.example", true,
     {L"www_halvek_quorin.txt", "userhalvekquorin"},
     {L"mwww_halvek_quorin.txt", "mhalvekquorin"}},
    {"lbquorin", L"https", L"qrn.example", true,
     {L"www_quorin_go.txt", "userquoringo"},
     {L"mwww_quorin_go.txt", "mquoringo"}},
    {"lbdroskgo", L"https", L"drosk.example", true,
     {L"www_drosk.txt", "userdrosk"}, {L"mwww_drosk.txt", "mdrosk"}},
    {"lbpelund", L"https", L"pelund.example", true,
     {L"www_pelund.txt", "userpelund"}, {L"mwww_pelund.txt", "mpelund"}},
    {"lbkessor", L"https", L"kessor.qrn.example", false,
     {L"www_kessor.txt", "userkessor"}, {L"mwww_kessor.txt", "mkessor"}},
    {"lbsandrel", L"https", L"sandrel.qrn.example", false,
     {L"www_sandrel.txt", "usersandrel"},
     {L"mwww_sandrel.txt", "msandrel"}},
    {"lbtelmirainter", L"https", L"telmira.qrn.example", false,
     {L"www_telmira.txt", "usertelmira"},
     {L"mwww_telmira.txt", "mtelmira"}},
    {"lbomvar", L"http", L"omvar.example", true,
     {L"www_omvar.txt", "useromvar"}, {L"mwww_omvar.txt", "momvar"}},
}};

constexpr std::array<PopupSite, 4> kPopupSites{{
    {"lbptesk", L"tesk.qrn.example", {L"pwww_tesk.txt", "ptesk"}},
    {"lbpbrimmel", L"brimmel.qrn.example", {L"pwww_brimmel.txt", "pbrimmel"}},
    {"lbpkessor", L"kessor.qrn.example", {L"pwww_kessor.txt", "pkessor"}},
    {"lbptelmira", L"telmira.qrn.example", {L"pwww_telmira.txt", "ptelmira"}},
}};

constexpr std::array<SoftwarePackage, 2> kSoftwarePackages{{
    {"lbsac", L"SafeNet Authentication Client 8.2",
     {L"sacinstall.txt", "sac_install"}},
    {"lbsam", L"SafeNet Authentication Manager Client 8.0 SP2",
     {L"saminstall.txt", "sam_install"}},
}};

constexpr std::array<ZoneSetting, 4> kZoneSettings{{
    {"lbascript", L"Active scripting", 1400,
     {L"a_script.txt", "ascript"}, {L"ma_script.txt", "mascript"}},
    {"lbjscript", L"Scripting of Java applets", 1402,
     {L"j_script.txt", "jscript"}, {L"mj_script.txt", "mjscript"}},
    {"blrplugin", L"Run ActiveX control and Plug-ins", 1200,
     {L"r_plugin.txt", "rplugin"}, {L"mr_plugin.txt", "mrplugin"}},
    {"lbinitscript", L"Initialize and script ActiveX controls..", 1201,
     {L"init_script.txt", "initscript"},
     {L"minit_script.txt", "minitscript"}},
}};

template <std::size_t N, typename Item, typename Pick>
constexpr std::array<CheckRow, N> Column(const std::array<Item, N>& items, Pick pick) {
    std::array<CheckRow, N> rows{};
    for (std::size_t i = 0; i < N; ++i) rows[i] = pick(items[i]);
    return rows;
}

constexpr auto kTrustedUserRows =
    Column(kTrustedSites, [](const TrustedSite& s) { return s.user; });
constexpr auto kTrustedMachineRows =
    Column(kTrustedSites, [](const TrustedSite& s) { return s.machine; });
constexpr auto kSoftwareRows =
    Column(kSoftwarePackages, [](const SoftwarePackage& p) { return p.row; });
constexpr auto kZoneUserRows = Column(kZoneSettings, [](const ZoneSetting& z) { return z.user; });
constexpr auto kZoneMachineRows =
    Column(kZoneSettings, [](const ZoneSetting& z) { return z.machine; });
constexpr auto kPopupRows = Column(kPopupSites, [](const PopupSite& p) { return p.row; });

}  // namespace

std::span<const TrustedSite> TrustedSites() { return kTrustedSites; }
std::span<const PopupSite> PopupSites() { return kPopupSites; }
std::span<const SoftwarePackage> SoftwarePackages() { return kSoftwarePackages; }
std::span<const ZoneSetting> ZoneSettings() { return kZoneSettings; }

std::wstring SiteCaption(const TrustedSite& site) {
    std::wstring caption(site.scheme);
    caption += L"://";
    if (site.wildcard) caption += L"*.";
    caption += site.host;
    return caption;
}

namespace {

// Check order; GroupId's values are the positions.
const std::array<CheckGroup, 6> kCheckGroups{{
    {GroupId::TrustedSitesUser, "CheckTrustedSitesUser", Topic::TrustedSites, Scope::User,
     kTrustedUserRows, kSuccessWords},
    {GroupId::TrustedSitesMachine, "CheckTrustedSitesMachine", Topic::TrustedSites,
     Scope::Machine, kTrustedMachineRows, kSuccessWords},
    {GroupId::SoftwareInstall, "CheckSoftwareInstall", Topic::SoftwareInstall,
     Scope::Workstation, kSoftwareRows, kSuccessWords},
    {GroupId::ZoneScriptingUser, "CheckZoneScriptingUser", Topic::ZoneScripting, Scope::User,
     kZoneUserRows, kEnableWords},
    {GroupId::ZoneScriptingMachine, "CheckZoneScriptingMachine", Topic::ZoneScripting,
     Scope::Machine, kZoneMachineRows, kEnableWords},
    {GroupId::PopupAllowedSites, "CheckPopupAllowedSites", Topic::PopupAllowedSites,
     Scope::Workstation, kPopupRows, kSuccessWords},
}};

}  // namespace

std::span<const CheckGroup> CheckGroups() { return kCheckGroups; }

const CheckGroup& Group(GroupId id) { return kCheckGroups[static_cast<std::size_t>(id)]; }

std::wstring InMarkerDirectory(std::wstring_view file) {
    std::wstring path(kMarkerDirectory);
    path += file;
    return path;
}

}  // namespace qtk
