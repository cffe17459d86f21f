#include "companion/win32/win32_console.h"

#include <algorithm>
#include <string>

#include "companion/report_json.h"

namespace qtk::companion::win32 {
namespace {

HANDLE Handle(DWORD std_handle) {
    HANDLE handle = GetStdHandle(std_handle);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

bool WriteAllBytes(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

void WriteText(DWORD std_handle, std::wstring_view text) {
    HANDLE handle = Handle(std_handle);
    if (handle == nullptr) return;
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::wstring lines;
    lines.reserve(text.size() + 16);
    for (const wchar_t c : text) {
        if (c == L'\n') lines += L'\r';
        lines += c;
    }
    WriteAllBytes(handle, Utf8(lines));
}

bool WriteBytes(DWORD std_handle, std::string_view bytes) {
    HANDLE handle = Handle(std_handle);
    return handle != nullptr && WriteAllBytes(handle, bytes);
}

bool IsFolder(const std::wstring& path) {
    if (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) return true;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<Failure> ReplaceFileWhole(const std::wstring& path, std::string_view bytes) {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    unsigned long long seed = static_cast<unsigned long long>(counter.QuadPart) ^
                              (static_cast<unsigned long long>(GetCurrentProcessId()) << 32);
    HANDLE file = INVALID_HANDLE_VALUE;
    std::wstring temporary;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        temporary = path + L"." + std::to_wstring(seed >> 16) + L".tmp";
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
        }
    }
    if (file == INVALID_HANDLE_VALUE) return Failure{error, L"Cannot write the report", path};
    error = ERROR_SUCCESS;
    if (!WriteAllBytes(file, bytes)) {
        error = GetLastError();
        if (error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
    }
    // On the disk before it replaces anything: a collected report is whole or absent.
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
    if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
    if (error == ERROR_SUCCESS &&
        !MoveFileExW(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        DeleteFileW(temporary.c_str());
        return Failure{error, L"Cannot write the report", path};
    }
    return std::nullopt;
}

}  // namespace qtk::companion::win32
