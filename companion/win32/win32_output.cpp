#include "companion/win32/win32_output.h"

#include <windows.h>

namespace qtk::companion::win32 {

std::uint32_t Win32OutputFiles::WriteWhole(const std::wstring& path, std::string_view bytes) {
    // No sharing while it is written: nobody reads a file that is not whole yet.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    DWORD error = ERROR_SUCCESS;
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done);
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) {
            error = GetLastError();
            break;
        }
        done += written;
    }
    // On the disk before it replaces anything, so a power cut cannot leave a new name
    // pointing at missing data.
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
    if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
    return error;
}

std::uint32_t Win32OutputFiles::Replace(const std::wstring& from, const std::wstring& to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

std::uint32_t Win32OutputFiles::Remove(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}

}  // namespace qtk::companion::win32
