#include "companion/report_json.h"

#include <nlohmann/json.hpp>

#include "companion/check_rows.h"
#include "companion/system_zone.h"

namespace qtk::companion {
namespace {

using nlohmann::ordered_json;

ordered_json Text(std::wstring_view text) { return Utf8(text); }

ordered_json OptionalText(std::wstring_view text) {
    return text.empty() ? ordered_json(nullptr) : Text(text);
}

}  // namespace

std::string ReportJson(const std::vector<CheckResult>& rows, const RunFacts& facts,
                       int exit_code, const std::optional<ReportError>& error) {
    const UserChoice& user = facts.user;
    ordered_json report;
    report["schema_version"] = kReportSchemaVersion;
    report["tool"] = {{"name", "tkexamine"}, {"version", Utf8(facts.tool_version)}};
    report["computer_name"] = Text(facts.computer_name);
    report["os_version"] = OptionalText(facts.os_version);
    report["run_context"] = {
        {"examined_user",
         {{"logged_on", user.user.logged_on},
          {"name", OptionalText(user.user.logged_on ? user.user.name : std::wstring())},
          {"sid", OptionalText(user.user.logged_on ? ExaminedSid(user) : user.user.sid)},
          {"is_process_user", user.user.is_process_user},
          {"unavailable_reason", OptionalText(user.unavailable_reason)}}},
        {"process_user", {{"name", OptionalText(user.process_name)}, {"sid", OptionalText(user.process_sid)}}},
        {"elevated", facts.elevated},
        {"as_system", user.as_system},
        {"session_id", facts.session_id ? ordered_json(*facts.session_id) : ordered_json(nullptr)},
    };
    report["started_utc"] = facts.started_utc;
    report["duration_seconds"] = facts.duration_seconds;
    report["report_only"] = facts.report_only;
    report["markers_written"] = facts.markers_written;
    report["skipped_groups"] = facts.skipped_groups;
    report["exit_code"] = exit_code;
    const RowCounts counts = Count(rows);
    report["counts"] = {{"pass", counts.pass}, {"fail", counts.fail}, {"undecided", counts.undecided}};
    if (error) {
        report["error"] = {{"code", error->failure.code},
                           {"description", Text(error->description)},
                           {"action", Text(error->failure.action)},
                           {"subject", Text(error->failure.subject)}};
    } else {
        report["error"] = nullptr;
    }
    ordered_json checks = ordered_json::array();
    for (const CheckResult& row : rows) {
        ordered_json details = ordered_json::object();
        if (!row.marker.empty()) details["marker"] = Text(row.marker);
        for (const auto& [name, value] : row.details) details[name] = Text(value);
        if (const std::optional<SystemZone>& zone = row.system_zone) {
            if (zone->zone) details["system_zone"] = Text(ZoneText(*zone->zone));
            if (zone->asked) details["system_zone_url"] = Text(zone->url);
            if (zone->compared) details["zone_disagreement"] = zone->disagreement ? "yes" : "no";
            if (!zone->note.empty()) details["system_zone_note"] = Text(zone->note);
        }
        checks.push_back({{"id", row.id},
                          {"group", row.group},
                          {"scope", std::string(ScopeWord(row.scope))},
                          {"target", Text(row.target)},
                          {"verdict", std::string(VerdictWord(row.verdict))},
                          {"reason", Text(row.reason)},
                          {"place", Text(row.place)},
                          {"details", std::move(details)}});
    }
    report["checks"] = std::move(checks);
    // Ids and groups are ASCII by contract, but a row from elsewhere must not be able to
    // make the whole report unwritable: invalid UTF-8 is replaced, not thrown on.
    return report.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::wstring ReportFileInFolder(const std::wstring& folder, const std::wstring& computer_name) {
    std::wstring name = computer_name.empty() ? L"unknown" : computer_name;
    for (wchar_t& c : name) {
        if (c < 0x20 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) c = L'_';
    }
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    return path + name + L".json";
}

}  // namespace qtk::companion
