#include "companion/examination.h"

#include "companion/internet_settings.h"
#include "companion/popup_allow.h"
#include "companion/software_install.h"
#include "companion/trusted_sites.h"
#include "companion/zone_scripting.h"

namespace qtk::companion {
namespace {

// The paths come from the contract and are plain ASCII; anything else would be a
// table error that must not turn into a path the script cannot name.
std::string Ascii(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (const wchar_t c : text) bytes += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return bytes;
}

}  // namespace

std::vector<MarkerResult> ExamineWorkstation(RegistrySource& registry) {
    TrustedSiteExaminer trusted(registry);
    ZoneScriptingExaminer zones(registry);
    const PopupExaminer popups(registry);
    const SoftwareInstallExaminer software(registry);
    auto examine = [&](const CheckGroup& group, std::size_t item) -> Finding {
        const Hive hive = group.scope == Scope::User ? Hive::CurrentUser : Hive::LocalMachine;
        switch (group.topic) {
            case Topic::TrustedSites: return trusted.Examine(TrustedSites()[item], hive);
            case Topic::SoftwareInstall:
                return software.Examine(SoftwarePackages()[item]);
            case Topic::ZoneScripting: return zones.Examine(ZoneSettings()[item], hive);
            case Topic::PopupAllowedSites: return popups.Examine(PopupSites()[item]);
        }
        return Finding{};
    };
    std::vector<MarkerResult> results;
    for (const CheckGroup& group : CheckGroups()) {
        for (std::size_t i = 0; i < group.rows.size(); ++i) {
            results.push_back({MarkerPath(group.rows[i]), examine(group, i)});
        }
    }
    return results;
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

std::vector<OutputFile> PlanOutput(const std::vector<MarkerResult>& markers,
                                   const std::optional<OsVersion>& version) {
    std::vector<OutputFile> files;
    files.push_back({InMarkerDirectory(kOsVersionFileName), VersionFileBytes(version)});
    for (const MarkerResult& marker : markers) {
        files.push_back({marker.marker, MarkerFileBytes(marker.finding)});
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
    for (const std::wstring& path : paths) {
        script += "del /f /q \"" + Ascii(path) + "\" >nul 2>nul\r\n";
    }
    // What runs killed midway or failed runs left: temporaries, earlier files moved
    // aside, notes (the writer names them all "*.tmp"). The directory is private to the
    // companion, so nothing else there ends in ".tmp".
    script += "del /f /q \"" + Ascii(InMarkerDirectory(L"*.tmp")) + "\" >nul 2>nul\r\n";
    // Deleting the running script and leaving on the same line: cmd never goes back to
    // read a next line from a file that is gone, so no "cannot find the batch file".
    // The directory itself stays, with the access list that keeps others out of it.
    script += "del /f /q \"" + Ascii(InMarkerDirectory(kCleanupScriptName)) + "\" >nul 2>nul & exit\r\n";
    return script;
}

}  // namespace qtk::companion
