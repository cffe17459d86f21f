#include "companion/examination.h"

#include <iterator>

#include "companion/check_rows.h"
#include "companion/internet_settings.h"
#include "companion/popup_allow.h"
#include "companion/software_install.h"
#include "companion/trusted_sites.h"
#include "companion/zone_scripting.h"

namespace qtk::companion {

std::wstring SiteKey(const TrustedSite& site) {
    return std::wstring(site.scheme) + L":" + (site.wildcard ? L"*." : L"") + std::wstring(site.host);
}

std::vector<CheckResult> ExamineWorkstation(RegistrySource& registry, const ExaminedUser& user,
                                            ZoneMapper* zones) {
    TrustedSiteExaminer trusted(registry);
    ZoneScriptingExaminer zone_settings(registry);
    const PopupExaminer popups(registry);
    const SoftwareInstallExaminer software(registry);
    std::vector<CheckResult> rows;
    for (const CheckGroup& group : CheckGroups()) {
        const Hive hive = group.scope == Scope::User ? Hive::CurrentUser : Hive::LocalMachine;
        // A one-column group (the packages, the pop-up lists) is reported by what it reads:
        // a package installed for the machine or the user is on this workstation; the
        // pop-up blocker's lists are the user's (their own and the policies applied to
        // them), as the browser reads no machine list of its own.
        const RowScope scope = group.scope == Scope::User      ? RowScope::User
                               : group.scope == Scope::Machine ? RowScope::Machine
                               : group.topic == Topic::PopupAllowedSites ? RowScope::User
                                                                         : RowScope::Machine;
        for (std::size_t i = 0; i < group.rows.size(); ++i) {
            CheckResult row;
            row.scope = scope;
            row.marker = MarkerPath(group.rows[i]);
            Finding finding;
            switch (group.topic) {
                case Topic::TrustedSites: {
                    const TrustedSite& site = TrustedSites()[i];
                    row.group = kTrustedSitesGroup;
                    row.target = SiteCaption(site);
                    row.id = RowId(row.group, scope, {SiteKey(site)});
                    finding = trusted.Examine(site, hive);
                    if (zones != nullptr && scope == RowScope::User) {
                        row.system_zone = AskSystemZone(site, finding.verdict, *zones, user);
                    }
                    break;
                }
                case Topic::SoftwareInstall: {
                    const SoftwarePackage& package = SoftwarePackages()[i];
                    row.group = kSoftwareGroup;
                    row.target = std::wstring(package.display_name);
                    row.id = RowId(row.group, scope, {package.display_name});
                    finding = software.Examine(package);
                    break;
                }
                case Topic::ZoneScripting: {
                    const ZoneSetting& setting = ZoneSettings()[i];
                    const std::wstring action = std::to_wstring(setting.url_action);
                    row.group = kZoneScriptingGroup;
                    row.target = std::wstring(setting.caption) + L" (" + action + L")";
                    row.id = RowId(row.group, scope, {action});
                    finding = zone_settings.Examine(setting, hive);
                    break;
                }
                case Topic::PopupAllowedSites: {
                    const PopupSite& site = PopupSites()[i];
                    row.group = kPopupAllowedGroup;
                    row.target = std::wstring(site.host);
                    row.id = RowId(row.group, scope, {site.host});
                    finding = popups.Examine(site);
                    break;
                }
            }
            row.verdict = finding.verdict;
            row.reason = std::move(finding.reason);
            row.place = std::move(finding.place);
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

std::vector<CheckResult> Examine(RegistrySource& registry, const UserChoice& choice,
                                 const ExaminationSeams& seams) {
    // Every examiner reads the user's keys through this, so that nobody's settings stand
    // in for an absent user.
    ExaminedUserRegistry examined(registry, choice.user.logged_on);
    std::vector<CheckResult> rows = ExamineWorkstation(examined, choice.user, seams.zones);
    const auto append = [&rows](std::vector<CheckResult> more) {
        rows.insert(rows.end(), std::make_move_iterator(more.begin()),
                    std::make_move_iterator(more.end()));
    };
    if (seams.fetcher != nullptr && seams.parser != nullptr && seams.ie11 != nullptr) {
        append(ExamineIeMode(examined, *seams.fetcher, *seams.parser, *seams.ie11));
    }
    if (seams.token != nullptr) append(ExamineTokenReadiness(*seams.token, examined, choice.user));
    FinishRows(rows, choice);
    return rows;
}

std::optional<std::uint32_t> ReadUpdateRevision(RegistrySource& registry) {
    const KeyPlace place{Hive::LocalMachine, View::Bits64,
                         std::wstring(kCurrentVersionKey)};
    const DwordRead read = ReadOptionalDword(registry, place, L"UBR");
    return read.value;
}

std::string VersionFileBytes(const std::optional<OsVersion>& version) {
    if (!version) return std::string(kVersionFailLine.bytes()) + "\r\n";
    std::string line = "Version ";
    line += std::to_string(version->major);
    for (const std::uint32_t part : {version->minor, version->build}) {
        line += '.';
        line += std::to_string(part);
    }
    if (version->update_revision) {
        line += '.';
        line += std::to_string(*version->update_revision);
    }
    line += "\r\n";
    return line;
}

std::vector<OutputFile> PlanOutput(const std::vector<CheckResult>& rows,
                                   const std::optional<OsVersion>& version) {
    std::vector<OutputFile> files;
    files.push_back({InMarkerDirectory(kOsVersionFileName), VersionFileBytes(version)});
    for (const CheckResult& row : rows) {
        if (row.marker.empty()) continue;
        files.push_back({row.marker, MarkerFileBytes(row)});
    }
    std::vector<std::wstring> to_remove;
    for (const OutputFile& file : files) to_remove.push_back(file.path);
    files.push_back({InMarkerDirectory(kCleanupScriptName), CleanupScriptBytes(to_remove)});
    return files;
}

std::string CleanupScriptBytes(const std::vector<std::wstring>& paths) {
    std::string script =
        "@echo off\r\n"
        "rem Left by tkexamine beside what it found. The diagnostic starts this script as it\r\n"
        "rem closes; the pause lets it end before the files it read are removed.\r\n"
        "ping -n 3 127.0.0.1 >nul 2>nul\r\n";
    // The paths come from the contract and are plain ASCII; anything else would be a
    // table error that must not turn into a path the script cannot name.
    for (const std::wstring& path : paths) {
        script += "del /f /q \"" + AsciiOnly(path) + "\" >nul 2>nul\r\n";
    }
    // What runs killed midway or failed runs left: temporaries, earlier files moved
    // aside, notes (the writer names them all "*.tmp"). The directory is private to the
    // companion, so nothing else there ends in ".tmp".
    script += "del /f /q \"" + AsciiOnly(InMarkerDirectory(L"*.tmp")) + "\" >nul 2>nul\r\n";
    // Deleting the running script and leaving on the same line: cmd never goes back to
    // read a next line from a file that is gone, so no "cannot find the batch file".
    // The directory itself stays, with the access list that keeps others out of it.
    script += "del /f /q \"" + AsciiOnly(InMarkerDirectory(kCleanupScriptName)) + "\" >nul 2>nul & exit\r\n";
    return script;
}

}  // namespace qtk::companion
