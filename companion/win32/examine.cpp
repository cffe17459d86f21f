#include "companion/win32/examine.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "checks/contract.h"
#include "companion/examination.h"
#include "companion/output_writer.h"
#include "companion/win32/secure_directory.h"
#include "companion/win32/win32_output.h"
#include "companion/win32/win32_registry.h"
#include "platform/win32/program.h"
#include "platform/win32/win32_platform.h"

namespace qtk::companion::win32 {
namespace {

constexpr wchar_t kTitle[] = L"QUORIN Token Key Check - examination";

// The version the system really runs: RtlGetVersion is not subject to the compatibility
// shims that make GetVersionEx report an older Windows to an unmanifested program.
std::optional<OsVersion> QueryOsVersion(RegistrySource& registry) {
    using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return std::nullopt;
    const auto get_version = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (get_version == nullptr) return std::nullopt;
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (get_version(&info) != 0 || info.dwMajorVersion == 0) return std::nullopt;
    return OsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                                ReadUpdateRevision(registry)};
}

void WriteToConsole(const std::wstring& text) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    bool attached = false;
    if (error == nullptr || error == INVALID_HANDLE_VALUE) {
        // A GUI program started from a console window has no handles of its own.
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
        attached = true;
        error = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
        if (error == INVALID_HANDLE_VALUE) {
            FreeConsole();
            return;
        }
    }
    const std::wstring line = L"tkexamine: " + text + L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(error, &mode)) {
        WriteConsoleW(error, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
    } else {
        const UINT page = GetConsoleOutputCP() ? GetConsoleOutputCP() : CP_ACP;
        const int size = WideCharToMultiByte(page, 0, line.c_str(), static_cast<int>(line.size()),
                                             nullptr, 0, nullptr, nullptr);
        if (size > 0) {
            std::string bytes(static_cast<std::size_t>(size), '\0');
            WideCharToMultiByte(page, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(),
                                size, nullptr, nullptr);
            WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        }
    }
    if (attached) {
        CloseHandle(error);
        FreeConsole();
    }
}

std::wstring DirectoryPath() {
    // The directory of the contract, without its trailing separator.
    std::wstring path(qtk::kMarkerDirectory);
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

}  // namespace

void ReportFailure(const Failure& failure) {
    const std::wstring description = qtk::win32::DescribeError(failure.code);
    WriteToConsole(failure.action + (failure.subject.empty() ? L"" : L": " + failure.subject) +
                   L" (error " + std::to_wstring(failure.code) + L": " + description + L")");
    const std::wstring text =
        qtk::win32::ErrorReportText(failure) +
        L"\r\n\r\nThe diagnostic would not show a true picture of this workstation; "
        L"it is not started.";
    MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

int Examine() {
    // Refuse an unsafe directory before spending any time on the examination.
    const SecureDirectory directory(DirectoryPath());
    Win32RegistrySource registry;
    const std::vector<MarkerResult> results = ExamineWorkstation(registry);
    const std::vector<OutputFile> plan = PlanOutput(results, QueryOsVersion(registry));
    Win32OutputFiles files;
    if (const std::optional<Failure> failure = WriteAll(files, plan, GetCurrentProcessId())) {
        throw *failure;
    }
    return 0;
}

}  // namespace qtk::companion::win32
