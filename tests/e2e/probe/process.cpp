// How another process was asked to show its window, and files held open the way a
// set-up script or an editor holds them.
#include "probe.h"

#include <tlhelp32.h>

namespace probe {
namespace {

// The start of the process environment block and of the parameters block it points to,
// as far as they are read here; natural alignment gives both layouts, 32- and 64-bit.
// "PEB structure (winternl.h)" and "RTL_USER_PROCESS_PARAMETERS structure (winternl.h)",
// learn.microsoft.com; the window fields after CommandLine carry the STARTUPINFO the
// process was created with ("STARTUPINFOW structure": dwFlags, wShowWindow).
struct UnicodeString {
    USHORT length;
    USHORT maximum_length;
    PWSTR buffer;
};

struct PebStart {
    BYTE flags[4];
    HANDLE mutant;
    PVOID image_base;
    PVOID loader_data;
    PVOID process_parameters;
};

struct ProcessParameters {
    ULONG maximum_length, length, flags, debug_flags;
    HANDLE console_handle;
    ULONG console_flags;
    HANDLE standard_input, standard_output, standard_error;
    UnicodeString current_directory;
    HANDLE current_directory_handle;
    UnicodeString dll_path, image_path_name, command_line;
    PVOID environment;
    ULONG starting_x, starting_y, count_x, count_y, count_chars_x, count_chars_y;
    ULONG fill_attribute, window_flags, show_window_flags;
};

struct BasicInformation {
    LONG_PTR exit_status;
    PVOID peb_base_address;
    ULONG_PTR affinity_mask;
    LONG_PTR base_priority;
    ULONG_PTR unique_process_id;
    ULONG_PTR inherited_from_unique_process_id;
};

DWORD FindProcessByName(const std::wstring& exe) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL ok = Process32FirstW(snap, &entry); ok && !found; ok = Process32NextW(snap, &entry)) {
        if (lstrcmpiW(entry.szExeFile, exe.c_str()) == 0) found = entry.th32ProcessID;
    }
    CloseHandle(snap);
    return found;
}

std::vector<HANDLE>& HeldFiles() {
    static std::vector<HANDLE> files;
    return files;
}

void ReadFrom(HANDLE process, const void* address, void* into, SIZE_T size, const char* what) {
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, address, into, size, &got) || got != size) {
        throw ProbeError{std::string("cannot read the other process's ") + what + ": error " +
                         Num(GetLastError())};
    }
}

}  // namespace

// show-state EXE MS: waits for a process named EXE (the clean-up script's cmd.exe, say)
// and prints how its creator asked it to show itself: the STARTUPINFO flags and show
// command it was started with, and its command line.
void ShowState(const Args& args) {
    const ULONGLONG deadline = Deadline(Milliseconds(args[1]));
    DWORD pid = 0;
    while (!(pid = FindProcessByName(args[0]))) {
        if (GetTickCount64() >= deadline) throw ProbeError{"no " + Utf8(args[0]) + " started in time"};
        Sleep(10);
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) throw ProbeError{"cannot open process " + Num(pid) + ": error " + Num(GetLastError())};
    using QueryFn = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    BasicInformation basic{};
    ULONG size = 0;
    const LONG status = query ? query(process, 0 /* ProcessBasicInformation */, &basic,
                                      sizeof basic, &size)
                              : -1;
    try {
        if (status != 0) throw ProbeError{"NtQueryInformationProcess failed: " + Num(status)};
        PebStart peb{};
        ReadFrom(process, basic.peb_base_address, &peb, sizeof peb, "PEB");
        ProcessParameters params{};
        ReadFrom(process, peb.process_parameters, &params, sizeof params, "process parameters");
        std::wstring command_line(params.command_line.length / sizeof(wchar_t), L'\0');
        if (!command_line.empty()) {
            ReadFrom(process, params.command_line.buffer, command_line.data(),
                     params.command_line.length, "command line");
        }
        Line("#startup\tpid\twindow_flags\tshow_window\tcommand_line");
        Line("startup\t" + Num(pid) + "\t" + Num(params.window_flags) + "\t" +
             Num(params.show_window_flags) + "\t" + Field(command_line));
    } catch (...) {
        CloseHandle(process);
        throw;
    }
    CloseHandle(process);
}

// hold PATH: opens PATH for writing, sharing reading and writing with everybody (as a
// set-up script still writing it, or an editor, would), prints "held", and keeps it open
// until release-after-exit.
void Hold(const Args& args) {
    HANDLE file = CreateFileW(args[0].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw ProbeError{"cannot open " + Utf8(args[0]) + " for writing: error " + Num(GetLastError())};
    }
    HeldFiles().push_back(file);
    Line("held\t" + Field(args[0]));
}

// release-after-exit MS: keeps the held files open until the program has started and
// ended (or MS have passed), then closes them.
void ReleaseAfterExit(const Args& args) {
    const ULONGLONG deadline = Deadline(Milliseconds(args[0]));
    bool seen = false;
    while (GetTickCount64() < deadline) {
        const bool running = FindProgramPid() != 0;
        if (seen && !running) break;
        seen = seen || running;
        Sleep(20);
    }
    for (HANDLE file : HeldFiles()) CloseHandle(file);
    HeldFiles().clear();
    Line(std::string("released\t") + (seen ? "after the program" : "at the deadline"));
}

}  // namespace probe
