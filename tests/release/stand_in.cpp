// Stands in for tkexamine.exe or tkcheck.exe when a test only needs to know which copy a
// script started: appends its own full path to the file named by QTK_STAND_IN_LOG.
#include <windows.h>

#include <cwchar>

int wmain() {
    wchar_t log[MAX_PATH];
    const DWORD log_length = GetEnvironmentVariableW(L"QTK_STAND_IN_LOG", log, MAX_PATH);
    if (log_length == 0 || log_length >= MAX_PATH) return 2;
    wchar_t self[MAX_PATH];
    const DWORD self_length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (self_length == 0 || self_length >= MAX_PATH) return 3;
    // Appending from two processes (the examination, then the diagnostic started after it)
    // must not interleave: FILE_APPEND_DATA writes each line at the end as one piece.
    const HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 4;
    char line[MAX_PATH * 3 + 2];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, self, static_cast<int>(self_length), line,
                                    static_cast<int>(sizeof line) - 1, nullptr, nullptr);
    if (bytes <= 0) return 5;
    line[bytes++] = '\n';
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line, static_cast<DWORD>(bytes), &written, nullptr);
    CloseHandle(file);
    return ok && written == static_cast<DWORD>(bytes) ? 0 : 6;
}
