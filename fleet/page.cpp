#include "fleet/page.h"

#include <algorithm>
#include <cstdio>

#include "fleet/sha256.h"

namespace qtk::fleet {
namespace {

constexpr std::string_view kStyle = R"(
body{font:14px/1.4 "Segoe UI",system-ui,sans-serif;margin:0 1.5em 2em;color:#1d2733;background:#f6f7f9}
h1{font-size:1.5em;margin:.8em 0 .2em}h2{font-size:1.15em;margin:1.4em 0 .5em}
.muted{color:#5b6675}
.tiles{display:flex;flex-wrap:wrap;gap:.6em}
.tile{background:#fff;border:1px solid #d8dde3;border-left:6px solid #8a96a3;border-radius:6px;padding:.5em 1em;min-width:8em}
.tile dt{font-size:.85em;color:#5b6675}.tile dd{margin:0;font-size:1.7em;font-weight:600}
.tile.ready{border-left-color:#2e8540}.tile.failing{border-left-color:#c0392b}.tile.undecided{border-left-color:#d68910}
.tile.unreadable{border-left-color:#6c3483}.tile.stale,.tile.old{border-left-color:#7f8c8d}
svg{background:#fff;border:1px solid #d8dde3;border-radius:6px;max-width:100%}
svg text{font:12px "Segoe UI",system-ui,sans-serif;fill:#1d2733}
svg .fail{fill:#c0392b}svg .undecided{fill:#f0b27a}svg a:hover text{text-decoration:underline}
table{border-collapse:collapse;background:#fff;border:1px solid #d8dde3;width:100%}
th,td{padding:.35em .6em;border-bottom:1px solid #e5e8ec;text-align:left;vertical-align:top}
th button{font:inherit;font-weight:600;border:0;background:none;padding:0;cursor:pointer;color:#1d4f91}
td.n{text-align:right;font-variant-numeric:tabular-nums}td.nw{white-space:nowrap}
tr.failing td:first-child{border-left:4px solid #c0392b}tr.undecided td:first-child{border-left:4px solid #d68910}
tr.ready td:first-child{border-left:4px solid #2e8540}
.tag{display:inline-block;font-size:.8em;padding:0 .4em;border-radius:3px;background:#e5e8ec;margin-left:.3em}
.tag.stale{background:#fdebd0}.tag.old{background:#d6eaf8}
ul{margin:0;padding-left:1.1em}code{font-size:.9em;background:#eef1f4;padding:0 .2em;border-radius:3px}
#filter{font:inherit;padding:.3em .5em;width:20em;margin:0 1em .5em 0}
tr:target{outline:2px solid #1d4f91}
)";

constexpr std::string_view kScript = R"(
(function () {
  var table = document.getElementById('desk-table');
  if (!table) return;
  var body = table.tBodies[0], rows = Array.prototype.slice.call(body.rows);
  var filter = document.getElementById('filter'), shown = document.getElementById('shown');
  var check = '', checkName = '';
  function apply() {
    var q = filter.value.toLowerCase(), n = 0;
    rows.forEach(function (r) {
      var ok = (!q || r.textContent.toLowerCase().indexOf(q) >= 0) &&
               (!check || r.getAttribute('data-checks').indexOf(' ' + check + ' ') >= 0);
      r.hidden = !ok;
      if (ok) n++;
    });
    shown.textContent = n + ' of ' + rows.length + ' desks shown' + (check ? ', check ' + checkName : '');
  }
  function fromHash() {
    var id = decodeURIComponent(location.hash.slice(1));
    var row = id.indexOf('check-') === 0 ? document.getElementById(id) : null;
    check = row ? row.getAttribute('data-check') : '';
    checkName = row ? row.getAttribute('data-check-id') : '';
    apply();
  }
  filter.addEventListener('input', apply);
  window.addEventListener('hashchange', fromHash);
  Array.prototype.forEach.call(table.tHead.rows[0].cells, function (th, i) {
    var button = th.querySelector('button'), dir = 1;
    if (!button) return;
    button.addEventListener('click', function () {
      var numeric = th.getAttribute('data-sort') === 'num';
      rows.sort(function (a, b) {
        var x = a.cells[i].getAttribute('data-v') || a.cells[i].textContent;
        var y = b.cells[i].getAttribute('data-v') || b.cells[i].textContent;
        return (numeric ? x - y : x.localeCompare(y)) * dir;
      });
      dir = -dir;
      rows.forEach(function (r) { body.appendChild(r); });
    });
  });
  fromHash();
  document.documentElement.setAttribute('data-script', 'ran');
})();
)";

std::string Hash(std::string_view text) {
    const auto digest = Sha256(text);
    return "'sha256-" + Base64(digest.data(), digest.size()) + "'";
}

const char* VerdictWord(DeskVerdict verdict) {
    switch (verdict) {
        case DeskVerdict::Failing: return "failing";
        case DeskVerdict::Undecided: return "undecided";
        case DeskVerdict::Ready: return "ready";
    }
    return "";
}

void Tile(std::string& out, const char* kind, const char* label, std::uint64_t count) {
    out += "<div class=\"tile ";
    out += kind;
    out += "\"><dt>";
    out += label;
    out += "</dt><dd id=\"total-";
    out += kind;
    out += "\">" + std::to_string(count) + "</dd></div>";
}

// Bars for the checks most desks fail: the table below has all of them.
void Bars(std::string& out, const FleetSummary& s) {
    constexpr std::size_t kBars = 40;
    constexpr int kLabel = 330, kWidth = 420, kRow = 22;
    const std::size_t bars = std::min(kBars, s.checks.size());
    if (bars == 0) return;
    std::uint64_t most = 1;
    for (std::size_t i = 0; i < bars; ++i) most = std::max<std::uint64_t>(most, s.checks[i].fail + s.checks[i].undecided);
    const int height = static_cast<int>(bars) * kRow + 8;
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"bars\" role=\"img\" aria-label=\"Desks per check\" "
           "width=\"" + std::to_string(kLabel + kWidth + 120) + "\" height=\"" + std::to_string(height) +
           "\" viewBox=\"0 0 " + std::to_string(kLabel + kWidth + 120) + " " + std::to_string(height) + "\">";
    for (std::size_t i = 0; i < bars; ++i) {
        const CheckCount& c = s.checks[i];
        const std::string& id = (*s.check_ids)[c.check];
        const int y = 4 + static_cast<int>(i) * kRow;
        const int fail = static_cast<int>(kWidth * c.fail / most);
        const int undecided = static_cast<int>(kWidth * c.undecided / most);
        std::string label = id.size() > 48 ? id.substr(0, 47) + "\xE2\x80\xA6" : id;
        out += "<a href=\"#check-" + std::to_string(c.check) + "\"><title>" + HtmlEscape(id) + ": " +
               std::to_string(c.fail) + " failing, " + std::to_string(c.undecided) + " undecided</title>";
        out += "<text x=\"" + std::to_string(kLabel - 6) + "\" y=\"" + std::to_string(y + 15) +
               "\" text-anchor=\"end\">" + HtmlEscape(label) + "</text>";
        out += "<rect class=\"fail\" x=\"" + std::to_string(kLabel) + "\" y=\"" + std::to_string(y + 3) +
               "\" width=\"" + std::to_string(fail) + "\" height=\"16\"/>";
        out += "<rect class=\"undecided\" x=\"" + std::to_string(kLabel + fail) + "\" y=\"" +
               std::to_string(y + 3) + "\" width=\"" + std::to_string(undecided) + "\" height=\"16\"/>";
        out += "<text x=\"" + std::to_string(kLabel + fail + undecided + 6) + "\" y=\"" +
               std::to_string(y + 15) + "\">" + std::to_string(c.fail) +
               (c.undecided ? " + " + std::to_string(c.undecided) + "?" : "") + "</text></a>";
    }
    out += "</svg>";
}

void Checks(std::string& out, const FleetSummary& s) {
    out += "<h2>Checks that fail or could not decide</h2>";
    if (s.checks.empty()) {
        out += "<p class=\"muted\">No check fails or is undecided on any desk.</p>";
        return;
    }
    out += "<p class=\"muted\">Red: desks where the check fails; orange: desks where it could not "
           "decide. A bar leads to its desks.</p>";
    Bars(out, s);
    out += "<table id=\"check-table\"><thead><tr><th>Check</th><th>Failing desks</th>"
           "<th>Undecided desks</th><th>Desks</th></tr></thead><tbody>";
    for (const CheckCount& c : s.checks) {
        const std::string id = HtmlEscape((*s.check_ids)[c.check]);
        const std::string index = std::to_string(c.check);
        out += "<tr id=\"check-" + index + "\" data-check=\"" + index + "\" data-check-id=\"" + id +
               "\"><td><code>" + id + "</code></td><td class=\"n n-fail\">" + std::to_string(c.fail) +
               "</td><td class=\"n n-undecided\">" + std::to_string(c.undecided) +
               "</td><td><details><summary>" + std::to_string(c.desks.size()) + " desks</summary>";
        for (const std::uint32_t d : c.desks) {
            out += "<a href=\"#desk-" + std::to_string(d) + "\">" +
                   HtmlEscape(s.desks_in_order[d].desk->report.computer_name) + "</a> ";
        }
        out += "</details></td></tr>";
    }
    out += "</tbody></table>";
}

void Desks(std::string& out, const FleetSummary& s) {
    out += "<h2>Desks</h2><input id=\"filter\" type=\"search\" placeholder=\"Filter the desks\" "
           "aria-label=\"Filter the desks\"><span id=\"shown\" class=\"muted\"></span>"
           "<table id=\"desk-table\"><thead><tr><th><button type=\"button\">Desk</button></th>"
           "<th><button type=\"button\">Verdict</button></th>"
           "<th data-sort=\"num\"><button type=\"button\">Fail</button></th>"
           "<th data-sort=\"num\"><button type=\"button\">Undecided</button></th>"
           "<th data-sort=\"num\"><button type=\"button\">Pass</button></th><th>Failing checks</th>"
           "<th><button type=\"button\">User</button></th>"
           "<th><button type=\"button\">Reported (UTC)</button></th>"
           "<th><button type=\"button\">Version</button></th></tr></thead><tbody>";
    for (std::size_t d = 0; d < s.desks_in_order.size(); ++d) {
        const DeskRow& row = s.desks_in_order[d];
        const Desk& desk = *row.desk;
        const DeskReport& r = desk.report;
        std::string checks = " ";
        for (const std::uint32_t c : desk.failing) checks += std::to_string(c) + " ";
        for (const std::uint32_t c : desk.undecided) checks += std::to_string(c) + " ";
        out += "<tr id=\"desk-" + std::to_string(d) + "\" class=\"" + VerdictWord(row.verdict) +
               "\" data-checks=\"" + checks + "\"><td class=\"nw\">" + HtmlEscape(r.computer_name) +
               (row.stale ? "<span class=\"tag stale\">stale</span>" : "") + "</td><td>" +
               VerdictWord(row.verdict) + "</td><td class=\"n\">" + std::to_string(r.fail) +
               "</td><td class=\"n\">" + std::to_string(r.undecided) + "</td><td class=\"n\">" +
               std::to_string(r.pass) + "</td><td>";
        if (!r.error.empty()) out += "<p>Did not complete: " + HtmlEscape(r.error) + "</p>";
        if (!r.failing.empty()) {
            out += "<ul>";
            for (const CheckOutcome& f : r.failing) {
                out += "<li><code>" + HtmlEscape(f.id) + "</code> " + HtmlEscape(f.reason) + "</li>";
            }
            if (desk.failing.size() > r.failing.size()) {
                out += "<li class=\"muted\">and " + std::to_string(desk.failing.size() - r.failing.size()) +
                       " more</li>";
            }
            out += "</ul>";
        }
        out += "</td><td>" + HtmlEscape(r.user) + "</td><td class=\"nw\">" + HtmlEscape(r.started_text) +
               "</td><td class=\"nw\">" +
               HtmlEscape(r.version) + (row.old_version ? "<span class=\"tag old\">old</span>" : "") +
               "</td></tr>";
    }
    out += "</tbody></table>";
}

void UnreadableList(std::string& out, const FleetSummary& s) {
    if (s.unreadable == 0) return;
    out += "<h2>Unreadable reports</h2><table id=\"unreadable-table\"><thead><tr><th>Report</th>"
           "<th>Why</th></tr></thead><tbody>";
    for (const UnreadableReport& u : *s.unreadable_reports) {
        out += "<tr><td>" + HtmlEscape(u.source) + "</td><td>" + HtmlEscape(u.reason) + "</td></tr>";
    }
    if (s.unreadable > s.unreadable_reports->size()) {
        out += "<tr><td colspan=\"2\" class=\"muted\">and " +
               std::to_string(s.unreadable - s.unreadable_reports->size()) + " more</td></tr>";
    }
    out += "</tbody></table>";
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
                    out += "\xEF\xBF\xBD";
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string CsvField(std::string_view text) {
    std::string out = "\"";
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        out += '\'';
    }
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string FormatUtc(std::int64_t ms) {
    // The inverse of ParseUtc's day count.
    std::int64_t seconds = ms / 1000;
    std::int64_t days = seconds / 86400;
    seconds -= days * 86400;
    if (seconds < 0) { seconds += 86400; --days; }
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[80];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::string ContentSecurityPolicy() {
    return "default-src 'none'; style-src " + Hash(kStyle) + "; script-src " + Hash(kScript) +
           "; base-uri 'none'; form-action 'none'";
}

std::string FleetPage(const FleetSummary& s, const PageFacts& facts) {
    std::string out;
    out.reserve(4096 + s.desks_in_order.size() * 600);
    out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"" + ContentSecurityPolicy() + "\">"
           "<meta name=\"viewport\" content=\"width=device-width\"><title>Fleet readiness</title><style>";
    out += kStyle;
    out += "</style></head><body><h1>Fleet readiness</h1><p class=\"muted\">" + std::to_string(s.reports) +
           " reports from ";
    for (std::size_t i = 0; i < facts.folders.size(); ++i) {
        out += (i ? ", " : "") + std::string("<code>") + HtmlEscape(facts.folders[i]) + "</code>";
    }
    out += ", read " + FormatUtc(facts.now_ms) + " by tkfleet " + HtmlEscape(facts.version) +
           ". The newest report of each desk counts; a report older than " +
           std::to_string(s.stale_days) + " days is stale.</p><dl class=\"tiles\" id=\"totals\">";
    Tile(out, "desks", "Desks", s.desks);
    Tile(out, "ready", "Ready", s.ready);
    Tile(out, "failing", "Failing", s.failing);
    Tile(out, "undecided", "Undecided only", s.undecided);
    Tile(out, "unreadable", "Unreadable reports", s.unreadable);
    Tile(out, "stale", "Stale reports", s.stale);
    Tile(out, "old", "Older version", s.old_version);
    out += "</dl>";
    if (!s.versions.empty()) {
        out += "<p class=\"muted\" id=\"versions\">tkexamine versions: ";
        for (std::size_t i = 0; i < s.versions.size(); ++i) {
            out += (i ? ", " : "") + HtmlEscape(s.versions[i].first) + " on " +
                   std::to_string(s.versions[i].second);
        }
        out += "</p>";
    }
    Checks(out, s);
    Desks(out, s);
    UnreadableList(out, s);
    out += "<script>";
    out += kScript;
    out += "</script></body></html>\n";
    return out;
}

std::string FleetCsv(const FleetSummary& s) {
    std::string out = "\xEF\xBB\xBF";  // so that a spreadsheet takes it as UTF-8
    out += "computer_name,verdict,stale,started_utc,version,user,pass,fail,undecided,check_id,reason,report\r\n";
    for (const DeskRow& row : s.desks_in_order) {
        const Desk& desk = *row.desk;
        const DeskReport& r = desk.report;
        const std::string head = CsvField(r.computer_name) + "," + VerdictWord(row.verdict) + "," +
                                 (row.stale ? "yes" : "no") + "," + CsvField(r.started_text) + "," +
                                 CsvField(r.version) + "," + CsvField(r.user) + "," +
                                 std::to_string(r.pass) + "," + std::to_string(r.fail) + "," +
                                 std::to_string(r.undecided) + ",";
        std::string tail = CsvField(desk.source);
        tail.insert(tail.begin(), ',');
        tail += "\r\n";
        if (desk.failing.empty()) {
            out += head;
            out += "\"\",";
            out += CsvField(r.error);
            out += tail;
        }
        for (std::size_t i = 0; i < desk.failing.size(); ++i) {
            out += head;
            out += CsvField((*s.check_ids)[desk.failing[i]]);
            out += ',';
            out += CsvField(i < r.failing.size() ? r.failing[i].reason : std::string_view());
            out += tail;
        }
    }
    for (const UnreadableReport& u : *s.unreadable_reports) {
        out += "\"\",unreadable,,\"\",\"\",\"\",,,,\"\"," + CsvField(u.reason) + "," + CsvField(u.source) + "\r\n";
    }
    return out;
}

}  // namespace qtk::fleet
