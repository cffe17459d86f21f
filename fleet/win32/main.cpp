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
#include "platform/win32/win32_platform.h"

namespace {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

// "error 5: Access is denied" for a message in UTF-8.
std::string ErrorText(DWORD error) { return qtk::Utf8(qtk::win32::ErrorText(error)); }

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
    qtk::win32::WriteWhole(handle, lines);
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
        const DWORD error = qtk::win32::ReplaceFileWhole(Wide(path), bytes);
        if (error != ERROR_SUCCESS) {
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
