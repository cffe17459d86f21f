#include "checks/tables.h"

#include <array>

namespace qtk {
namespace {

constexpr std::array<TrustedSite, 11> kTrustedSites{{
    {"lbteskquorin", L"https", L"tesk.qrn.example", false,
     {L"C:\\tmptk\\www_tesk.txt", "userteskquorin"}, {L"C:\\tmptk\\mwww_tesk.txt", "mteskquorin"}},
    {"lbhalvekgo", L"https", L"halvek.example", true,
     {L"C:\\tmptk\\www_halvek_go.txt", "userhalvekgo"},
     {L"C:\\tmptk\\mwww_halvek_go.txt", "mhalvekgo"}},
    {"lbhalvekor", L"https", L"hvk.example", true,
     {L"C:\\tmptk\\www_halvek_or.txt", "userhalvekor"},
     {L"C:\\tmptk\\mwww_halvek_or.txt", "mhalvekor"}},
    {"lbhalvekquorin", L"https", L"hvk.qrn.example", true,
     {L"C:\\tmptk\\www_halvek_quorin.txt", "userhalvekquorin"},
     {L"C:\\tmptk\\mwww_halvek_quorin.txt", "mhalvekquorin"}},
    {"lbquorin", L"https", L"qrn.example", true,
     {L"C:\\tmptk\\www_quorin_go.txt", "userquoringo"},
     {L"C:\\tmptk\\mwww_quorin_go.txt", "mquoringo"}},
    {"lbdroskgo", L"https", L"drosk.example", true,
     {L"C:\\tmptk\\www_drosk.txt", "userdrosk"}, {L"C:\\tmptk\\mwww_drosk.txt", "mdrosk"}},
    {"lbpelund", L"https", L"pelund.example", true,
     {L"C:\\tmptk\\www_pelund.txt", "userpelund"}, {L"C:\\tmptk\\mwww_pelund.txt", "mpelund"}},
    {"lbkessor", L"https", L"kessor.qrn.example", false,
     {L"C:\\tmptk\\www_kessor.txt", "userkessor"}, {L"C:\\tmptk\\mwww_kessor.txt", "mkessor"}},
    {"lbsandrel", L"https", L"sandrel.qrn.example", false,
     {L"C:\\tmptk\\www_sandrel.txt", "usersandrel"},
     {L"C:\\tmptk\\mwww_sandrel.txt", "msandrel"}},
    {"lbtelmirainter", L"https", L"telmira.qrn.example", false,
     {L"C:\\tmptk\\www_telmira.txt", "usertelmira"},
     {L"C:\\tmptk\\mwww_telmira.txt", "mtelmira"}},
    {"lbomvar", L"http", L"omvar.example", true,
     {L"C:\\tmptk\\www_omvar.txt", "useromvar"}, {L"C:\\tmptk\\mwww_omvar.txt", "momvar"}},
}};

constexpr std::array<PopupSite, 4> kPopupSites{{
    {"lbptesk", L"tesk.qrn.example", {L"C:\\tmptk\\pwww_tesk.txt", "ptesk"}},
    {"lbpbrimmel", L"brimmel.qrn.example", {L"C:\\tmptk\\pwww_brimmel.txt", "pbrimmel"}},
    {"lbpkessor", L"kessor.qrn.example", {L"C:\\tmptk\\pwww_kessor.txt", "pkessor"}},
    {"lbptelmira", L"telmira.qrn.example", {L"C:\\tmptk\\pwww_telmira.txt", "ptelmira"}},
}};

constexpr std::array<SoftwarePackage, 2> kSoftwarePackages{{
    {"lbsac", L"SafeNet Authentication Client 8.2",
     {L"C:\\tmptk\\sacinstall.txt", "sac_install"}},
    {"lbsam", L"SafeNet Authentication Manager Client 8.0 SP2",
     {L"C:\\tmptk\\saminstall.txt", "sam_install"}},
}};

constexpr std::array<ZoneSetting, 4> kZoneSettings{{
    {"lbascript", L"Active scripting", 1400,
     {L"C:\\tmptk\\a_script.txt", "ascript"}, {L"C:\\tmptk\\ma_script.txt", "mascript"}},
    {"lbjscript", L"Scripting of Java applets", 1402,
     {L"C:\\tmptk\\j_script.txt", "jscript"}, {L"C:\\tmptk\\mj_script.txt", "mjscript"}},
    {"blrplugin", L"Run ActiveX control and Plug-ins", 1200,
     {L"C:\\tmptk\\r_plugin.txt", "rplugin"}, {L"C:\\tmptk\\mr_plugin.txt", "mrplugin"}},
    {"lbinitscript", L"Initialize and script ActiveX controls..", 1201,
     {L"C:\\tmptk\\init_script.txt", "initscript"},
     {L"C:\\tmptk\\minit_script.txt", "minitscript"}},
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

const CheckGroup& TrustedSitesUserGroup() {
    static const CheckGroup group{"CheckTrustedSitesUser", kTrustedUserRows, kSuccessWords};
    return group;
}
const CheckGroup& TrustedSitesMachineGroup() {
    static const CheckGroup group{"CheckTrustedSitesMachine", kTrustedMachineRows,
                                  kSuccessWords};
    return group;
}
const CheckGroup& SoftwareInstallGroup() {
    static const CheckGroup group{"CheckSoftwareInstall", kSoftwareRows, kSuccessWords};
    return group;
}
const CheckGroup& ZoneScriptingUserGroup() {
    static const CheckGroup group{"CheckZoneScriptingUser", kZoneUserRows, kEnableWords};
    return group;
}
const CheckGroup& ZoneScriptingMachineGroup() {
    static const CheckGroup group{"CheckZoneScriptingMachine", kZoneMachineRows, kEnableWords};
    return group;
}
const CheckGroup& PopupAllowedSitesGroup() {
    static const CheckGroup group{"CheckPopupAllowedSites", kPopupRows, kSuccessWords};
    return group;
}

}  // namespace qtk
