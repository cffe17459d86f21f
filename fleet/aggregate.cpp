#include "fleet/aggregate.h"

#include <algorithm>
#include <map>

namespace qtk::fleet {

DeskVerdict VerdictOf(const DeskReport& report) {
    if (report.fail > 0) return DeskVerdict::Failing;
    // An examination that did not complete decided nothing for the rows it did not reach.
    if (report.undecided > 0 || report.exit_code == 3 || !report.error.empty()) {
        return DeskVerdict::Undecided;
    }
    return DeskVerdict::Ready;
}

std::uint32_t Fleet::CheckIndex(const std::string& id) {
    const auto [it, added] = check_index_.try_emplace(id, static_cast<std::uint32_t>(check_ids_.size()));
    if (added) check_ids_.push_back(id);
    return it->second;
}

void Fleet::AddUnreadable(std::string source, std::string reason) {
    ++reports_;
    ++unreadable_count_;
    if (unreadable_.size() < kMaxUnreadableListed) {
        unreadable_.push_back({std::move(source), std::move(reason)});
    }
}

void Fleet::Add(std::string source, ReadResult result) {
    if (auto* bad = std::get_if<Unreadable>(&result)) {
        AddUnreadable(std::move(source), std::move(bad->reason));
        return;
    }
    ++reports_;
    DeskReport& report = std::get<DeskReport>(result);
    const auto [it, added] = desk_index_.try_emplace(FoldAscii(report.computer_name), desks_.size());
    if (!added) {
        const Desk& held = desks_[it->second];
        // The newest report of a desk wins; of two at the same moment, the later file name,
        // so that the outcome does not depend on the order the folder is listed in.
        const bool newer = report.started_ms > held.report.started_ms ||
                           (report.started_ms == held.report.started_ms && source > held.source);
        if (!newer) return;
    }
    Desk desk;
    desk.source = std::move(source);
    desk.failing.reserve(report.failing_ids.size());
    for (const std::string& id : report.failing_ids) desk.failing.push_back(CheckIndex(id));
    for (const std::string& id : report.undecided_ids) desk.undecided.push_back(CheckIndex(id));
    report.failing_ids = {};
    report.undecided_ids = {};
    desk.report = std::move(report);
    if (added) {
        desks_.push_back(std::move(desk));
    } else {
        desks_[it->second] = std::move(desk);
    }
}

FleetSummary Fleet::Summarise() const {
    FleetSummary summary;
    summary.stale_days = stale_days_;
    summary.reports = reports_;
    summary.unreadable = unreadable_count_;
    summary.unreadable_reports = &unreadable_;
    summary.check_ids = &check_ids_;
    summary.desks = desks_.size();

    std::map<std::string, std::uint64_t, bool (*)(const std::string&, const std::string&)> versions(
        [](const std::string& a, const std::string& b) {
            const int order = CompareVersions(a, b);
            return order != 0 ? order > 0 : a < b;
        });
    for (const Desk& desk : desks_) ++versions[desk.report.version];
    if (!versions.empty()) summary.newest_version = versions.begin()->first;
    summary.versions.assign(versions.begin(), versions.end());

    const std::int64_t stale_before = now_ms_ - static_cast<std::int64_t>(stale_days_) * 86'400'000;
    summary.desks_in_order.reserve(desks_.size());
    for (const Desk& desk : desks_) {
        DeskRow row{&desk, VerdictOf(desk.report), desk.report.started_ms < stale_before,
                    CompareVersions(desk.report.version, summary.newest_version) < 0};
        switch (row.verdict) {
            case DeskVerdict::Failing: ++summary.failing; break;
            case DeskVerdict::Undecided: ++summary.undecided; break;
            case DeskVerdict::Ready: ++summary.ready; break;
        }
        summary.stale += row.stale;
        summary.old_version += row.old_version;
        summary.desks_in_order.push_back(row);
    }
    std::sort(summary.desks_in_order.begin(), summary.desks_in_order.end(),
              [](const DeskRow& a, const DeskRow& b) {
                  if (a.verdict != b.verdict) return a.verdict < b.verdict;
                  return a.desk->report.computer_name < b.desk->report.computer_name;
              });

    summary.checks.resize(check_ids_.size());
    for (std::uint32_t i = 0; i < check_ids_.size(); ++i) summary.checks[i].check = i;
    // A check failed twice in one report counts its desk once.
    std::vector<std::uint32_t> last_fail(check_ids_.size(), UINT32_MAX);
    std::vector<std::uint32_t> last_undecided(check_ids_.size(), UINT32_MAX);
    for (std::uint32_t d = 0; d < summary.desks_in_order.size(); ++d) {
        const Desk& desk = *summary.desks_in_order[d].desk;
        for (const std::uint32_t c : desk.failing) {
            if (last_fail[c] == d) continue;
            last_fail[c] = d;
            ++summary.checks[c].fail;
            summary.checks[c].desks.push_back(d);
        }
        for (const std::uint32_t c : desk.undecided) {
            if (last_undecided[c] == d || last_fail[c] == d) continue;
            last_undecided[c] = d;
            ++summary.checks[c].undecided;
            summary.checks[c].desks.push_back(d);
        }
    }
    std::erase_if(summary.checks, [](const CheckCount& c) { return c.fail == 0 && c.undecided == 0; });
    std::sort(summary.checks.begin(), summary.checks.end(),
              [this](const CheckCount& a, const CheckCount& b) {
                  if (a.fail != b.fail) return a.fail > b.fail;
                  if (a.undecided != b.undecided) return a.undecided > b.undecided;
                  return check_ids_[a.check] < check_ids_[b.check];
              });
    return summary;
}

}  // namespace qtk::fleet
