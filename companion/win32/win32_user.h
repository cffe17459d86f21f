// The user-choice seam on Windows: who runs this process, who is at the console, and
// whether a user's hive is loaded; plus the run's facts that come from the process token.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "companion/run_context.h"

namespace qtk::companion::win32 {

class Win32Sessions : public SessionSource {
public:
    Win32Sessions() = default;
    ~Win32Sessions() override;
    Win32Sessions(const Win32Sessions&) = delete;
    Win32Sessions& operator=(const Win32Sessions&) = delete;

    std::wstring ProcessUserSid() override;
    std::optional<std::uint32_t> ConsoleSession() override;
    long SessionUserSid(std::uint32_t session, std::wstring* sid) override;
    long ActiveSessions(std::vector<std::uint32_t>* sessions) override;
    std::wstring AccountName(const std::wstring& sid) override;
    bool HiveLoaded(const std::wstring& sid) override;

private:
    // wtsapi32, loaded from System32 when first needed; nullptr with the error when not.
    HMODULE Wtsapi(long* error);

    HMODULE wtsapi_ = nullptr;
};

// Whether the process runs with its full administrative token (TokenElevation).
bool ProcessIsElevated();
// The Terminal Services session this process belongs to.
std::optional<std::uint32_t> ProcessSession();
std::wstring ComputerName();

}  // namespace qtk::companion::win32
