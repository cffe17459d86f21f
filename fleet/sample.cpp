#include "fleet/sample.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>

#include "fleet/page.h"

namespace qtk::fleet {
namespace {

using nlohmann::ordered_json;

struct SampleCheck {
    const char* group;
    const char* scope;
    const char* target;
    unsigned fail_per_mille;
    unsigned undecided_per_mille;
    const char* fail_reason;
};

constexpr std::array<SampleCheck, 16> kChecks{{
    {"trusted_sites", "user", "https://portal.quorin.example", 120, 5, "not in the Trusted sites zone"},
    {"trusted_sites", "user", "https://sign.quorin.example", 90, 5, "in the Internet zone"},
    {"zone_scripting", "machine", "trusted", 60, 0, "Active scripting is disabled in the Trusted sites zone"},
    {"popup_allow", "user", "portal.quorin.example", 200, 0, "pop-ups are blocked for the site"},
    {"software", "machine", "QuorinSigner", 40, 10, "not installed"},
    {"software", "machine", "QuorinMiddleware", 30, 10, "version 2.1 is older than 3.0"},
    {"token", "machine", "smart_card_service", 25, 30, "the Smart Card service is disabled"},
    {"token", "machine", "reader", 80, 60, "no smart card reader is attached"},
    {"token", "user", "certificate", 70, 40, "no signing certificate in the personal store"},
    {"ie_mode", "machine", "site_list", 50, 80, "the enterprise site list cannot be fetched"},
    {"ie_mode", "user", "https://portal.quorin.example", 45, 20, "not opened in IE mode"},
    {"internet_settings", "user", "tls12", 15, 0, "TLS 1.2 is off"},
    {"internet_settings", "machine", "proxy_bypass", 10, 5, "the portal goes through the proxy"},
    {"directory", "machine", "tmptk", 5, 0, "C:\\tmptk may be changed by every user"},
    {"system_zone", "user", "https://portal.quorin.example", 20, 15, "Windows puts the site in the Internet zone"},
    {"trusted_sites", "machine", "https://portal.quorin.example", 8, 0, "the machine policy maps the site elsewhere"},
}};

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

ordered_json Skeleton(const std::string& computer, const std::string& user, std::int64_t started_ms,
                      const std::string& version) {
    ordered_json report;
    report["schema_version"] = 1;
    report["tool"] = {{"name", "tkexamine"}, {"version", version}};
    report["computer_name"] = computer;
    report["os_version"] = "10.0.19045.4651";
    report["run_context"] = {
        {"examined_user", {{"logged_on", true}, {"name", user}, {"sid", "S-1-5-21-1004336348-1177238915-682003330-1001"},
                           {"is_process_user", false}, {"unavailable_reason", nullptr}}},
        {"process_user", {{"name", "NT AUTHORITY\\SYSTEM"}, {"sid", "S-1-5-18"}}},
        {"elevated", true},
        {"as_system", true},
        {"session_id", 1}};
    report["started_utc"] = FormatUtc(started_ms);
    report["duration_seconds"] = 1.25;
    report["report_only"] = false;
    report["markers_written"] = true;
    report["skipped_groups"] = ordered_json::array();
    return report;
}

ordered_json Row(const SampleCheck& check, const char* verdict, const std::string& reason) {
    const std::string id = std::string(check.group) + "." + check.scope + "." + check.target;
    return {{"id", id}, {"group", check.group}, {"scope", check.scope}, {"target", check.target},
            {"verdict", verdict}, {"reason", reason},
            {"place", "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"},
            {"details", {{"marker", std::string("C:\\tmptk\\") + check.group + ".txt"}, {"checked", "yes"}}}};
}

void Finish(ordered_json& report, ordered_json checks, unsigned pass, unsigned fail, unsigned undecided,
            bool incomplete) {
    report["exit_code"] = incomplete ? 3 : fail ? 1 : undecided ? 2 : 0;
    report["counts"] = {{"pass", pass}, {"fail", fail}, {"undecided", undecided}};
    report["error"] = incomplete ? ordered_json{{"code", 5}, {"description", "Access is denied."},
                                                {"action", "Cannot read the registry"},
                                                {"subject", "HKEY_USERS\\S-1-5-21-1"}}
                                 : ordered_json(nullptr);
    report["checks"] = std::move(checks);
}

}  // namespace

std::string SampleReport(std::uint64_t index, const SampleOptions& options) {
    const std::uint64_t desks = options.desks ? options.desks : index + 1;
    const std::uint64_t desk = index % desks;
    const std::uint64_t round = index / desks;  // 0: the newest report, 1: the one before...
    const std::uint64_t h = Mix(desk);
    char name[32];
    std::snprintf(name, sizeof name, "WS-%05llu", static_cast<unsigned long long>(desk));
    char user[48];
    std::snprintf(user, sizeof user, "QUORIN\\user%04llu", static_cast<unsigned long long>(h % 9000));
    // One desk in twelve has not reported for over a week; most did within the last days.
    std::int64_t age_ms = static_cast<std::int64_t>(h % (3 * 86'400'000ull));
    if (h % 12 == 0) age_ms += 9 * 86'400'000ll;
    age_ms += static_cast<std::int64_t>(round) * 86'400'000ll;
    const char* version = h % 10 == 0 ? "1.0.0" : (h >> 8) % 7 == 0 ? "1.1.0" : "1.2.0";
    ordered_json report = Skeleton(name, user, options.now_ms - age_ms, version);
    // An older report of a desk was worse: the page must show the newest.
    const unsigned worse = round ? 300 : 0;
    ordered_json checks = ordered_json::array();
    unsigned pass = 0, fail = 0, undecided = 0;
    for (std::size_t c = 0; c < kChecks.size(); ++c) {
        const SampleCheck& check = kChecks[c];
        const unsigned roll = static_cast<unsigned>(Mix(h ^ (c * 0x1000193u)) % 1000);
        if (roll < check.fail_per_mille + worse) {
            checks.push_back(Row(check, "fail", check.fail_reason));
            ++fail;
        } else if (roll < check.fail_per_mille + worse + check.undecided_per_mille) {
            checks.push_back(Row(check, "undecided", "could not be read: access is denied"));
            ++undecided;
        } else {
            checks.push_back(Row(check, "pass", "as required"));
            ++pass;
        }
    }
    Finish(report, std::move(checks), pass, fail, undecided, h % 97 == 0);
    return report.dump(2) + "\n";
}

std::string HostileReport(std::int64_t now_ms) {
    ordered_json report = Skeleton("WS-<img src=x onerror=\"document.title='pwned'\">",
                                   "<script>document.title='pwned'</script>", now_ms - 60'000, "1.2.0");
    ordered_json checks = ordered_json::array();
    ordered_json row = Row(kChecks[0], "fail",
                           "<script>document.title='pwned'</script><img src=x onerror=\"document.title='pwned'\">");
    row["id"] = "trusted_sites.user.\"><script>document.title='pwned'</script>";
    checks.push_back(std::move(row));
    Finish(report, std::move(checks), 0, 1, 0, false);
    return report.dump(2) + "\n";
}

}  // namespace qtk::fleet
