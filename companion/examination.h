// The whole examination and what it leaves in C:\tmptk\: one marker per check row, the
// OS-version file, and the clean-up script that removes them all again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks/tables.h"
#include "companion/finding.h"
#include "companion/registry_source.h"

namespace qtk::companion {

struct MarkerResult {
    std::wstring marker;  // the row's path, from the contract
    Finding finding;
};

// Every check row, in the contract's check order (CheckGroups()).
std::vector<MarkerResult> ExamineWorkstation(RegistrySource& registry);

struct OsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::optional<std::uint32_t> update_revision;  // "UBR", when the system records one
};

// The revision lives beside the product name; a missing or unreadable value just leaves
// the version one number shorter.
std::optional<std::uint32_t> ReadUpdateRevision(RegistrySource& registry);

// "Version 10.0.19045.4291" and CR LF; the fail line when the version could not be determined,
// which is the one line the diagnostic reads as "show the service-pack text instead".
std::string VersionFileBytes(const std::optional<OsVersion>& version);

struct OutputFile {
    std::wstring path;
    std::string bytes;
};

// Everything to write, in the order it is put in place: the OS-version file, the markers
// in check order, and the clean-up script last.
std::vector<OutputFile> PlanOutput(const std::vector<MarkerResult>& markers,
                                   const std::optional<OsVersion>& version);

// A batch file that waits a moment, so that the diagnostic which starts it as it closes
// has gone, then deletes each of paths and finally itself.
std::string CleanupScriptBytes(const std::vector<std::wstring>& paths);

}  // namespace qtk::companion
