// Loads the Enterprise Mode Site List from where the policy says: a local or UNC file, or an
// http(s) address through WinHTTP (loaded from System32 at run time) with a short time-out,
// so that an unreachable server makes the rows undecided within seconds rather than
// holding the examination up.
#pragma once

#include "companion/ie_mode.h"

namespace qtk::companion::win32 {

class Win32SiteListFetcher : public SiteListFetcher {
public:
    // Per step (resolve, connect, send, receive); a list server that needs longer is
    // reported as unreachable.
    explicit Win32SiteListFetcher(int timeout_ms = 5000) : timeout_ms_(timeout_ms) {}
    FetchedList Fetch(const SiteListLocation& location) override;

    // Lists run to a few hundred kilobytes; anything far beyond is no site list.
    static constexpr unsigned long long kMaxBytes = 16ull << 20;

private:
    int timeout_ms_;
};

}  // namespace qtk::companion::win32
