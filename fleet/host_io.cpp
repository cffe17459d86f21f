#include "fleet/host_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace qtk::fleet {

namespace fs = std::filesystem;

bool HostIo::ListReports(const std::string& folder,
                         const std::function<void(const std::string&)>& found, std::string& why) {
    std::error_code error;
    fs::directory_iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        std::error_code type_error;
        if (path.extension() == ".json" && it->is_regular_file(type_error)) found(path.string());
    }
    if (error) why = error.message();
    return !error;
}

bool HostIo::ReadFile(const std::string& path, std::size_t limit, std::string& bytes, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    // In pieces, not into a buffer of the largest size allowed: that would be filled (and
    // zeroed) for every report, however small.
    bytes.clear();
    char piece[65536];
    while (bytes.size() <= limit) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        bytes.append(piece, std::min(static_cast<std::size_t>(n), limit + 1 - bytes.size()));
    }
    ::close(fd);
    return true;
}

bool HostIo::ReplaceFile(const std::string& path, std::string_view bytes, std::string& why) {
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = path + "." + std::to_string(random_()) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    bool ok = true;
    while (ok && !bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        why = std::strerror(errno);
        ::unlink(temporary.c_str());
    }
    return ok;
}

std::string HostIo::Join(const std::string& folder, const std::string& name) {
    return (fs::path(folder) / name).string();
}
void HostIo::Out(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }
void HostIo::Err(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }
std::int64_t HostIo::SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::int64_t SystemNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace qtk::fleet
