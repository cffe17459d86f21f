// tkfleet's run, the same on Windows and on the Linux host: the command line, the folders
// read one report at a time, the page and the table written. Only the file system differs,
// behind FleetIo.
//
// The command line follows tkexamine's habits: /name or --name, /? -h --help, a value after
// '=' (or ':' in the slash form) or as the next argument, names without regard to case; a
// bad line is rejected whole with 87 before anything is read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qtk::fleet {

struct Options {
    bool help = false;
    bool version = false;
    std::vector<std::string> folders;
    std::string out_dir = ".";
    int stale_days = 7;
};

struct ParsedCommandLine {
    std::optional<Options> options;
    std::string error;
};

// slash_options: whether "/name" is an option (Windows) or a path (elsewhere, where only
// "/?" is taken as the question it is).
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args, bool slash_options);
std::string UsageText();

namespace exit_code {
inline constexpr int kWritten = 0;
inline constexpr int kCouldNotComplete = 3;  // a folder unreadable, or the page unwritable
inline constexpr int kBadCommandLine = 87;   // ERROR_INVALID_PARAMETER
}  // namespace exit_code

class FleetIo {
public:
    virtual ~FleetIo() = default;
    // Calls found with the path of every *.json file directly in folder, as it is listed.
    // False, with why, when the folder cannot be listed.
    virtual bool ListReports(const std::string& folder,
                             const std::function<void(const std::string& path)>& found,
                             std::string& why) = 0;
    // At most limit + 1 bytes of the file, so that an oversized one is known without
    // reading it whole.
    virtual bool ReadFile(const std::string& path, std::size_t limit, std::string& bytes,
                          std::string& why) = 0;
    // Written to a new file beside it and renamed over it: a reader sees the old or the new.
    virtual bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& why) = 0;
    virtual std::string Join(const std::string& folder, const std::string& name) = 0;
    virtual void Out(std::string_view text) = 0;
    virtual void Err(std::string_view text) = 0;
    virtual std::int64_t SteadyMs() = 0;  // for the progress lines
};

int Run(const Options& options, FleetIo& io, std::int64_t now_ms, std::string_view version);

}  // namespace qtk::fleet
