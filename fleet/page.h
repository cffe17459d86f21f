// What tkfleet writes: the page a person looks at and the table a spreadsheet opens.
// Everything that came from a report is escaped on the way out; the page loads nothing
// and runs nothing but its own script (a content security policy with its hash).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fleet/aggregate.h"

namespace qtk::fleet {

struct PageFacts {
    std::int64_t now_ms = 0;
    std::vector<std::string> folders;
    std::string version;  // tkfleet's
};

std::string FleetPage(const FleetSummary& summary, const PageFacts& facts);
std::string FleetCsv(const FleetSummary& summary);

// & < > " ' as references; control characters as U+FFFD.
std::string HtmlEscape(std::string_view text);
// Always quoted; a leading = + - @ (or tab, CR) is defused with ' so that a spreadsheet
// shows the text instead of evaluating it.
std::string CsvField(std::string_view text);
std::string FormatUtc(std::int64_t ms);

// The page's policy line: its own script and style by hash, nothing else.
std::string ContentSecurityPolicy();

}  // namespace qtk::fleet
