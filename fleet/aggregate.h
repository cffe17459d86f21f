// The fleet as a whole, from one report after another: per desk only the newest report's
// summary, per check only its id. Memory follows the number of desks, time the number of
// reports; nothing is held of a report once it has been added.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "fleet/report.h"

namespace qtk::fleet {

enum class DeskVerdict { Failing, Undecided, Ready };

struct Desk {
    DeskReport report;                    // failing_ids/undecided_ids moved into the indices below
    std::string source;                   // the file it came from
    std::vector<std::uint32_t> failing;   // into FleetSummary::check_ids
    std::vector<std::uint32_t> undecided;
};

struct UnreadableReport {
    std::string source;
    std::string reason;
};

struct CheckCount {
    std::uint32_t check = 0;  // into check_ids
    std::uint32_t fail = 0, undecided = 0;
    std::vector<std::uint32_t> desks;  // into desks_in_order, in its order
};

struct DeskRow {
    const Desk* desk = nullptr;
    DeskVerdict verdict = DeskVerdict::Ready;
    bool stale = false;
    bool old_version = false;
};

struct FleetSummary {
    std::uint64_t desks = 0, ready = 0, failing = 0, undecided = 0, unreadable = 0, stale = 0,
                  old_version = 0, reports = 0;
    int stale_days = 7;
    std::string newest_version;
    std::vector<std::pair<std::string, std::uint64_t>> versions;  // newest first
    const std::vector<std::string>* check_ids = nullptr;
    std::vector<CheckCount> checks;  // most failing desks first, then most undecided
    std::vector<DeskRow> desks_in_order;  // failing, undecided, ready; by name within each
    const std::vector<UnreadableReport>* unreadable_reports = nullptr;  // the first kMaxUnreadableListed
};

inline constexpr std::size_t kMaxUnreadableListed = 1000;

class Fleet {
public:
    // now_ms: the run's time, against which reports become stale.
    Fleet(std::int64_t now_ms, int stale_days) : now_ms_(now_ms), stale_days_(stale_days) {}

    void Add(std::string source, ReadResult result);
    void AddUnreadable(std::string source, std::string reason);

    // Valid while the Fleet lives and is not added to.
    FleetSummary Summarise() const;

private:
    std::uint32_t CheckIndex(const std::string& id);

    std::int64_t now_ms_;
    int stale_days_;
    std::uint64_t reports_ = 0, unreadable_count_ = 0;
    std::vector<Desk> desks_;
    std::unordered_map<std::string, std::size_t> desk_index_;  // by folded computer name
    std::vector<std::string> check_ids_;
    std::unordered_map<std::string, std::uint32_t> check_index_;
    std::vector<UnreadableReport> unreadable_;
};

DeskVerdict VerdictOf(const DeskReport& report);

}  // namespace qtk::fleet
