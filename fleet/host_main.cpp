// tkfleet on a POSIX host: the same run as tkfleet.exe, so that the fleet's page can be
// made (and tested) away from Windows.
#include <cstdio>

#include "fleet/host_io.h"

int main(int argc, char** argv) {
    const qtk::fleet::ParsedCommandLine parsed =
        qtk::fleet::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), false);
    if (!parsed.options) {
        std::fprintf(stderr, "tkfleet: %s\n\n%s", parsed.error.c_str(), qtk::fleet::UsageText().c_str());
        return qtk::fleet::exit_code::kBadCommandLine;
    }
    qtk::fleet::HostIo io;
    return qtk::fleet::Run(*parsed.options, io, qtk::fleet::SystemNowMs(), QTK_VERSION);
}
