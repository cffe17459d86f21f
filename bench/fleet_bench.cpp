// What tkfleet costs on a big share: 10,000 and 20,000 made-up reports in the shape
// tkexamine writes, each size set against a floor measured in the same run on the same
// files: read every file and parse it whole with the same JSON library, nothing else,
// which is the least any reader of every report must do. tkfleet's run is the whole of
// it: list, read, check, count, write the page and the table. A ratio that stays flat as
// the size doubles is linear.
//
// Each measure runs in a child process of its own, so that its peak memory (the child's
// ru_maxrss) is its own and not the generator's or the other measure's.
//
// Options: --reports=N  the first size (default 10000; the second is twice it)
//          --repeat=N   runs each measure N times and keeps the fastest (default 3)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "fleet/host_io.h"
#include "fleet/report.h"
#include "fleet/sample.h"

namespace {

namespace fs = std::filesystem;
using namespace qtk::fleet;

int g_repeat = 3;

struct Measure {
    double ms = 1e300;
    long peak_kib = 0;
};

// work runs in a child; its exit status must be 0.
Measure Fastest(const std::function<int()>& work) {
    Measure best;
    for (int i = 0; i < g_repeat; ++i) {
        std::fflush(nullptr);
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) _exit(work());
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "fleet_bench: a measure failed (status %d)\n", status);
            std::exit(1);
        }
        best.ms = std::min(best.ms, took.count());
        best.peak_kib = std::max(best.peak_kib, usage.ru_maxrss);
    }
    return best;
}

class QuietIo : public HostIo {
public:
    void Out(std::string_view) override {}
    void Err(std::string_view) override {}
};

int Floor(const std::string& folder) {
    QuietIo io;
    std::string bytes, why;
    std::size_t keys = 0;
    const bool listed = io.ListReports(folder, [&](const std::string& path) {
        if (io.ReadFile(path, kMaxReportBytes, bytes, why)) keys += nlohmann::json::parse(bytes).size();
    }, why);
    return listed && keys > 0 ? 0 : 1;
}

int Fleet(const std::string& folder, const std::string& out) {
    QuietIo io;
    Options options;
    options.folders = {folder};
    options.out_dir = out;
    return Run(options, io, SystemNowMs(), "bench") == exit_code::kWritten ? 0 : 1;
}

std::uintmax_t Generate(const std::string& folder, std::uint64_t reports) {
    fs::create_directories(folder);
    // One report in ten is an older one of a desk that reported again.
    const SampleOptions options{SystemNowMs(), reports - reports / 10};
    std::uintmax_t bytes = 0;
    for (std::uint64_t i = 0; i < reports; ++i) {
        const std::string text = SampleReport(i, options);
        std::ofstream(folder + "/report-" + std::to_string(i) + ".json", std::ios::binary) << text;
        bytes += text.size();
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t reports = 10000;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--reports=", 10) == 0) reports = std::strtoull(argv[i] + 10, nullptr, 10);
        else if (std::strncmp(argv[i], "--repeat=", 9) == 0) g_repeat = std::max(1, std::atoi(argv[i] + 9));
        else {
            std::fprintf(stderr, "usage: %s [--reports=N] [--repeat=N]\n", argv[0]);
            return 2;
        }
    }
    char pattern[] = "/tmp/fleet-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string root = pattern;
    std::printf("%-8s %10s %12s %12s %8s %12s %12s\n", "reports", "MiB", "floor ms", "tkfleet ms", "ratio",
                "floor peak", "tkfleet peak");
    double first_ms = 0;
    for (const std::uint64_t n : {reports, reports * 2}) {
        const std::string folder = root + "/" + std::to_string(n), out = folder + "-out";
        const std::uintmax_t bytes = Generate(folder, n);
        fs::create_directories(out);
        Floor(folder);  // the files into the page cache, for both alike
        const Measure floor = Fastest([&] { return Floor(folder); });
        const Measure fleet = Fastest([&] { return Fleet(folder, out); });
        std::printf("%-8llu %10.1f %12.1f %12.1f %7.2fx %9ld KiB %9ld KiB\n", static_cast<unsigned long long>(n),
                    static_cast<double>(bytes) / (1 << 20), floor.ms, fleet.ms, fleet.ms / floor.ms,
                    floor.peak_kib, fleet.peak_kib);
        if (n == reports) {
            first_ms = fleet.ms;
        } else {
            std::printf("twice the reports took %.2fx the time (2.00 is linear)\n", fleet.ms / first_ms);
        }
    }
    fs::remove_all(root);
    return 0;
}
