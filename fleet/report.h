// One workstation's report, as tkfleet keeps it: the few facts the fleet's page shows,
// never the report itself, so that memory follows the number of desks and not the size
// or number of the files.
//
// Reports come from the workstations and are read as untrusted input: a size cap before
// anything is parsed, a nesting limit, a length limit on every text and a cap on the rows,
// and the shape tkexamine writes (docs/report.schema.json). Whatever breaks one of those
// makes the report unreadable, with the reason, and nothing of it is kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qtk::fleet {

inline constexpr std::size_t kMaxReportBytes = 4u << 20;  // a real one is tens of KiB
inline constexpr int kMaxDepth = 8;                       // tkexamine's reports nest 4 deep
inline constexpr std::size_t kMaxTextBytes = 8192;        // any one key or text
inline constexpr std::size_t kMaxChecks = 5000;
// Per desk, the reasons kept for the page: enough to read, bounded whatever a report holds.
inline constexpr std::size_t kMaxReasonsKept = 40;
inline constexpr std::size_t kMaxReasonBytes = 400;

struct CheckOutcome {
    std::string id;
    std::string reason;  // for failing checks only; cut to kMaxReasonBytes
};

struct DeskReport {
    std::string computer_name;
    std::string user;          // the examined user; empty when none was logged on
    std::string version;       // tkexamine's
    std::string started_text;  // as written, "2026-12-08T09:30:00Z"
    std::int64_t started_ms = 0;  // milliseconds since 1970-01-01 UTC
    int exit_code = 0;
    std::uint32_t pass = 0, fail = 0, undecided = 0;
    std::string error;  // why the examination did not complete; empty when it did
    std::vector<CheckOutcome> failing;     // reasons cut as above, at most kMaxReasonsKept
    std::vector<std::string> failing_ids;  // every failing check's id
    std::vector<std::string> undecided_ids;
};

struct Unreadable {
    std::string reason;
};

using ReadResult = std::variant<DeskReport, Unreadable>;

// bytes: the whole file (the caller reads at most kMaxReportBytes + 1 of it).
ReadResult ReadReport(std::string_view bytes);

// "2026-12-08T09:30:00Z" or with ".123" before the Z -> milliseconds since the epoch.
std::optional<std::int64_t> ParseUtc(std::string_view text);

// A..Z folded to a..z: computer names and check ids compare without regard to case.
std::string FoldAscii(std::string_view text);

// "1.2.10" before "1.10.0": dotted numbers compared as numbers; < 0, 0 or > 0.
int CompareVersions(std::string_view a, std::string_view b);

}  // namespace qtk::fleet
