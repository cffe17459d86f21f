#include "fleet/run.h"

#include <charconv>

#include "fleet/aggregate.h"
#include "fleet/page.h"

namespace qtk::fleet {

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args, bool slash_options) {
    Options options;
    auto bad = [](std::string why) { return ParsedCommandLine{std::nullopt, std::move(why)}; };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string body;
        bool slash = false;
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            body = arg.substr(2);
        } else if (arg == "/?" || (slash_options && arg.size() > 1 && arg[0] == '/')) {
            body = arg.substr(1);
            slash = true;
        } else if (arg.size() == 2 && arg[0] == '-') {
            body = arg.substr(1);
        } else {
            if (arg.empty()) return bad("an empty folder name");
            options.folders.push_back(arg);
            continue;
        }
        std::size_t cut = body.find('=');
        if (slash) cut = std::min(cut, body.find(':'));
        const std::string name = FoldAscii(body.substr(0, cut));
        std::optional<std::string> value;
        if (cut != std::string::npos) value = body.substr(cut + 1);
        auto take_value = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        if (name == "?" || name == "h" || name == "help") {
            options.help = true;
        } else if (name == "version") {
            options.version = true;
        } else if (name == "out") {
            const std::optional<std::string> dir = take_value();
            if (!dir || dir->empty()) return bad("--out needs a folder");
            options.out_dir = *dir;
        } else if (name == "stale-days") {
            const std::optional<std::string> days = take_value();
            int n = -1;
            if (days) {
                const auto [end, ec] = std::from_chars(days->data(), days->data() + days->size(), n);
                if (ec != std::errc() || end != days->data() + days->size()) n = -1;
            }
            if (n < 1 || n > 3650) return bad("--stale-days needs a number of days from 1 to 3650");
            options.stale_days = n;
        } else {
            return bad("unknown option " + arg);
        }
        if (value && (name == "?" || name == "h" || name == "help" || name == "version")) {
            return bad(arg + " takes no value");
        }
    }
    if (!options.help && !options.version && options.folders.empty()) {
        return bad("no folder of reports named");
    }
    return {options, {}};
}

std::string UsageText() {
    return "tkfleet - the readiness of a fleet of workstations, from tkexamine's reports\n"
           "\n"
           "  tkfleet FOLDER... [--out DIR] [--stale-days N]\n"
           "\n"
           "Reads every *.json report in the folders (tkexamine --json=FOLDER writes one per\n"
           "workstation) and writes DIR\\fleet.html, to look at, and DIR\\fleet.csv, for a\n"
           "spreadsheet. The newest report of each workstation counts.\n"
           "\n"
           "  --out DIR         where to write (default: the current folder)\n"
           "  --stale-days N    a report older than N days is stale (default 7)\n"
           "  --version         the program's version\n"
           "  /?, -h, --help    this text\n"
           "\n"
           "Options may also be written /out:DIR. A report that is not one of tkexamine's, too\n"
           "large or malformed is listed as unreadable, with the reason, and the rest go on.\n"
           "\n"
           "Exit codes:\n"
           "  0   the page and the table were written\n"
           "  3   a folder could not be read or the page could not be written\n"
           "  87  the command line is wrong\n";
}

int Run(const Options& options, FleetIo& io, std::int64_t now_ms, std::string_view version) {
    if (options.help) {
        io.Out(UsageText());
        return exit_code::kWritten;
    }
    if (options.version) {
        io.Out("tkfleet " + std::string(version) + "\n");
        return exit_code::kWritten;
    }
    Fleet fleet(now_ms, options.stale_days);
    const std::int64_t started = io.SteadyMs();
    std::int64_t next_progress = started + 2000;
    std::uint64_t read = 0;
    std::string bytes;
    for (const std::string& folder : options.folders) {
        std::string why;
        const bool listed = io.ListReports(folder, [&](const std::string& path) {
            std::string read_why;
            if (!io.ReadFile(path, kMaxReportBytes, bytes, read_why)) {
                fleet.AddUnreadable(path, "cannot be read: " + read_why);
            } else {
                fleet.Add(path, ReadReport(bytes));
            }
            // A count now and then on a long run, never a line per report.
            if ((++read & 255) == 0 && io.SteadyMs() >= next_progress) {
                io.Err("tkfleet: " + std::to_string(read) + " reports read\n");
                next_progress = io.SteadyMs() + 2000;
            }
        }, why);
        if (!listed) {
            io.Err("tkfleet: cannot read the folder " + folder + ": " + why + "\n");
            return exit_code::kCouldNotComplete;
        }
    }
    const FleetSummary summary = fleet.Summarise();
    const std::string page = io.Join(options.out_dir, "fleet.html");
    const std::string table = io.Join(options.out_dir, "fleet.csv");
    std::string why;
    if (!io.ReplaceFile(page, FleetPage(summary, {now_ms, options.folders, std::string(version)}), why) ||
        !io.ReplaceFile(table, FleetCsv(summary), why)) {
        io.Err("tkfleet: cannot write to " + options.out_dir + ": " + why + "\n");
        return exit_code::kCouldNotComplete;
    }
    io.Out(std::to_string(summary.desks) + " desks: " + std::to_string(summary.ready) + " ready, " +
           std::to_string(summary.failing) + " failing, " + std::to_string(summary.undecided) +
           " undecided only; " + std::to_string(summary.stale) + " stale, " +
           std::to_string(summary.unreadable) + " unreadable reports.\nWrote " + page + " and " +
           table + "\n");
    return exit_code::kWritten;
}

}  // namespace qtk::fleet
