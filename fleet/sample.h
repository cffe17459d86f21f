// A made-up fleet in the shape tkexamine writes (docs/report.schema.json): for the demo,
// the page's browser test and the benchmark. Deterministic for a given index and time.
#pragma once

#include <cstdint>
#include <string>

namespace qtk::fleet {

struct SampleOptions {
    std::int64_t now_ms = 0;
    std::uint64_t desks = 0;  // reports beyond this many are older ones of the same desks
};

// The report of one desk: its name, verdicts and age follow from index.
std::string SampleReport(std::uint64_t index, const SampleOptions& options);

// A report that tries to run script in whoever opens the page.
std::string HostileReport(std::int64_t now_ms);

}  // namespace qtk::fleet
