// tkfleet-sample DIR COUNT [DESKS] [--hostile]: writes COUNT made-up reports into DIR for
// the demo, the page's browser test and the benchmark; with DESKS < COUNT the rest are
// older reports of the same desks. --hostile adds one report that tries to run script.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fleet/sample.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DIR COUNT [DESKS] [--hostile]\n", argv[0]);
        return 87;
    }
    const std::string dir = argv[1];
    const std::uint64_t count = std::strtoull(argv[2], nullptr, 10);
    bool hostile = false;
    qtk::fleet::SampleOptions options;
    options.desks = count;
    for (int i = 3; i < argc; ++i) {
        if (std::string(argv[i]) == "--hostile") hostile = true;
        else options.desks = std::strtoull(argv[i], nullptr, 10);
    }
    options.now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream file(dir + "/" + name, std::ios::binary);
        file << text;
        return static_cast<bool>(file);
    };
    for (std::uint64_t i = 0; i < count; ++i) {
        char name[48];
        std::snprintf(name, sizeof name, "report-%06llu.json", static_cast<unsigned long long>(i));
        if (!write(name, qtk::fleet::SampleReport(i, options))) {
            std::perror(name);
            return 3;
        }
    }
    if (hostile && !write("hostile.json", qtk::fleet::HostileReport(options.now_ms))) return 3;
    return 0;
}
