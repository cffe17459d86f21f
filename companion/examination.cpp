#include "companion/examination.h"

#include "companion/internet_settings.h"
#include "companion/popup_allow.h"
#include "companion/software_install.h"
#include "companion/trusted_sites.h"
#include "companion/zone_scripting.h"

namespace qtk::companion {
namespace {

// The paths come from the check tables and are plain ASCII; anything else would be a
// table error that must not turn into a path the script cannot name.
std::string Ascii(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (const wchar_t c : text) bytes += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return bytes;
}

}  // namespace

std::vector<MarkerResult> ExamineWorkstation(RegistrySource& registry) {
    std::vector<MarkerResult> results;
    TrustedSiteExaminer trusted(registry);
    for (const Hive scope : {Hive::CurrentUser, Hive::LocalMachine}) {
        for (const TrustedSite& site : TrustedSites()) {
            const CheckRow& row = scope == Hive::CurrentUser ? site.user : site.machine;
            results.push_back({row.marker, trusted.Examine(site, scope)});
        }
    }
    for (const SoftwarePackage& package : SoftwarePackages()) {
        results.push_back({package.row.marker, ExamineSoftwareInstall(registry, package)});
    }
    ZoneScriptingExaminer zones(registry);
    for (const Hive scope : {Hive::CurrentUser, Hive::LocalMachine}) {
        for (const ZoneSetting& setting : ZoneSettings()) {
            const CheckRow& row = scope == Hive::CurrentUser ? setting.user : setting.machine;
            results.push_back({row.marker, zones.Examine(setting, scope)});
        }
    }
    const PopupExaminer popups(registry);
    for (const PopupSite& site : PopupSites()) {
        results.push_back({site.row.marker, popups.Examine(site)});
    }
    return results;
}

std::optional<std::uint32_t> ReadUpdateRevision(RegistrySource& registry) {
    const KeyPlace place{Hive::LocalMachine, View::Bits64,
                         std::wstring(keys::kWindowsNtCurrentVersion)};
    const DwordRead read = ReadOptionalDword(registry, place, L"UBR");
    return read.value;
}

std::string VersionFileBytes(const std::optional<OsVersion>& version) {
    if (!version) return "fail\r\n";
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

std::vector<OutputFile> PlanOutput(const std::vector<MarkerResult>& markers,
                                   const std::optional<OsVersion>& version) {
    std::vector<OutputFile> files;
    files.push_back({std::wstring(kVersionFilePath), VersionFileBytes(version)});
    for (const MarkerResult& marker : markers) {
        files.push_back({std::wstring(marker.marker), MarkerFileBytes(marker.finding)});
    }
    std::vector<std::wstring> to_remove;
    for (const OutputFile& file : files) to_remove.push_back(file.path);
    files.push_back({std::wstring(kCleanupScriptPath), CleanupScriptBytes(to_remove)});
    return files;
}

std::string CleanupScriptBytes(const std::vector<std::wstring>& paths) {
    std::string script =
        "@echo off\r\n"
        "rem Left by tkexamine beside what it found. The diagnostic starts this script as it\r\n"
        "rem closes; the pause lets it end before the files it read are removed.\r\n"
        "ping -n 3 127.0.0.1 >nul 2>nul\r\n";
    for (const std::wstring& path : paths) {
        script += "del /f /q \"" + Ascii(path) + "\" >nul 2>nul\r\n";
    }
    // Deleting the running script and leaving on the same line: cmd never goes back to
    // read a next line from a file that is gone, so no "cannot find the batch file".
    // The directory itself stays, with the access list that keeps others out of it.
    script += "del /f /q \"" + Ascii(kCleanupScriptPath) + "\" >nul 2>nul & exit\r\n";
    return script;
}

}  // namespace qtk::companion
