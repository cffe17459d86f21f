// The POSIX host's file system for tkfleet: std::filesystem to list, POSIX files to read
// and to write by create-new-then-rename. Shared by the host's tkfleet and the benchmark.
#pragma once

#include <random>

#include "fleet/run.h"

namespace qtk::fleet {

class HostIo : public FleetIo {
public:
    bool ListReports(const std::string& folder, const std::function<void(const std::string&)>& found,
                     std::string& why) override;
    bool ReadFile(const std::string& path, std::size_t limit, std::string& bytes, std::string& why) override;
    bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& why) override;
    std::string Join(const std::string& folder, const std::string& name) override;
    void Out(std::string_view text) override;
    void Err(std::string_view text) override;
    std::int64_t SteadyMs() override;

private:
    std::mt19937_64 random_{std::random_device{}()};
};

std::int64_t SystemNowMs();

}  // namespace qtk::fleet
