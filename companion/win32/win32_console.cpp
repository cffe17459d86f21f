#include "companion/win32/win32_console.h"

#include <algorithm>
#include <string>

#include "companion/report_json.h"
#include "platform/win32/win32_platform.h"

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
    const DWORD error = qtk::win32::ReplaceFileWhole(path, bytes);
    if (error != ERROR_SUCCESS) return Failure{error, L"Cannot write the report", path};
    return std::nullopt;
}

}  // namespace qtk::companion::win32
