// tkfleet.exe: the readiness of a fleet from the reports that tkexamine --json=FOLDER leaves
// leaves there, as fleet.html and fleet.csv. A console program like tkexamine, with its
// habits on the command line and in exit codes (fleet/run.h, docs/tkfleet.md); only the
// file system is Windows' here.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fleet/run.h"
#include "platform/text.h"
#include "platform/win32/program.h"

namespace {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::string ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : std::wstring();
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return "error " + std::to_string(error) + (message.empty() ? "" : ": " + qtk::Utf8(message));
}

bool WriteAll(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

void Print(DWORD std_handle, std::string_view text) {
    HANDLE handle = GetStdHandle(std_handle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Wide(text);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::string lines;
    for (const char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    WriteAll(handle, lines);
}

class WindowsIo : public qtk::fleet::FleetIo {
public:
    bool ListReports(const std::string& folder, const std::function<void(const std::string&)>& found,
                     std::string& why) override {
        const std::wstring pattern = Wide(Join(folder, "*.json"));
        WIN32_FIND_DATAW data{};
        HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                       nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (find == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) return true;  // the folder is there, no report in it
            why = ErrorText(error);
            return false;
        }
        DWORD error = ERROR_SUCCESS;
        do {
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
            const std::wstring name = data.cFileName;
            // The pattern also matches by the short name; the long one must end in .json.
            if (name.size() < 5 || !qtk::SameName(std::wstring_view(name).substr(name.size() - 5), L".json")) {
                continue;
            }
            found(Join(folder, qtk::Utf8(name)));
        } while (FindNextFileW(find, &data));
        error = GetLastError();
        FindClose(find);
        if (error != ERROR_NO_MORE_FILES) {
            why = ErrorText(error);
            return false;
        }
        return true;
    }

    bool ReadFile(const std::string& path, std::size_t limit, std::string& bytes, std::string& why) override {
        // Shared for writing and deleting: a desk may be replacing its report right now.
        HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            why = ErrorText(GetLastError());
            return false;
        }
        // In pieces, not into a buffer of the largest size allowed: that would be filled
        // (and zeroed) for every report, however small.
        bytes.clear();
        char piece[65536];
        bool ok = true;
        while (bytes.size() <= limit) {
            DWORD n = 0;
            if (!::ReadFile(file, piece, sizeof piece, &n, nullptr)) {
                why = ErrorText(GetLastError());
                ok = false;
                break;
            }
            if (n == 0) break;
            bytes.append(piece, std::min<std::size_t>(n, limit + 1 - bytes.size()));
        }
        CloseHandle(file);
        return ok;
    }

    bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& why) override {
        const std::wstring target = Wide(path);
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        unsigned long long seed = static_cast<unsigned long long>(counter.QuadPart) ^
                                  (static_cast<unsigned long long>(GetCurrentProcessId()) << 32);
        HANDLE file = INVALID_HANDLE_VALUE;
        std::wstring temporary;
        DWORD error = ERROR_SUCCESS;
        // A new name beside it, created only if nothing (a planted link) sits there yet.
        for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            temporary = target + L"." + std::to_wstring(seed >> 16) + L".tmp";
            file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                error = GetLastError();
                if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
            }
        }
        if (file == INVALID_HANDLE_VALUE) {
            why = ErrorText(error);
            return false;
        }
        error = ERROR_SUCCESS;
        if (!WriteAll(file, bytes)) error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
        if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
        if (error == ERROR_SUCCESS &&
            !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            error = GetLastError();
        }
        if (error != ERROR_SUCCESS) {
            DeleteFileW(temporary.c_str());
            why = ErrorText(error);
            return false;
        }
        return true;
    }

    std::string Join(const std::string& folder, const std::string& name) override {
        if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
        return folder + "\\" + name;
    }
    void Out(std::string_view text) override { Print(STD_OUTPUT_HANDLE, text); }
    void Err(std::string_view text) override { Print(STD_ERROR_HANDLE, text); }
    std::int64_t SteadyMs() override { return static_cast<std::int64_t>(GetTickCount64()); }
};

std::int64_t NowMs() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10'000) - 11'644'473'600'000;  // 1601 -> 1970
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    return qtk::win32::RunProgram(
        [argc, argv] {
            std::vector<std::string> args;
            for (int i = 1; i < argc; ++i) args.push_back(qtk::Utf8(argv[i]));
            const qtk::fleet::ParsedCommandLine parsed = qtk::fleet::ParseCommandLine(args, true);
            if (!parsed.options) {
                Print(STD_ERROR_HANDLE, "tkfleet: " + parsed.error + "\n\n" + qtk::fleet::UsageText());
                return qtk::fleet::exit_code::kBadCommandLine;
            }
            WindowsIo io;
            return qtk::fleet::Run(*parsed.options, io, NowMs(), QTK_VERSION);
        },
        [](const qtk::Failure& failure) {
            Print(STD_ERROR_HANDLE, "tkfleet: " + qtk::Utf8(qtk::win32::ErrorReportText(failure)) + "\n");
        },
        qtk::fleet::exit_code::kCouldNotComplete);
}
