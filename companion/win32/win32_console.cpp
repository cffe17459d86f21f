#include "companion/win32/win32_console.h"

#include <string>

#include "companion/report_json.h"
#include "platform/win32/win32_platform.h"

namespace qtk::companion::win32 {
namespace {

HANDLE Handle(DWORD std_handle) {
    HANDLE handle = GetStdHandle(std_handle);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
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
    qtk::win32::WriteWhole(handle, Utf8(lines));
}

bool WriteBytes(DWORD std_handle, std::string_view bytes) {
    HANDLE handle = Handle(std_handle);
    return handle != nullptr && qtk::win32::WriteWhole(handle, bytes) == ERROR_SUCCESS;
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
