#include "platform/win32/program.h"
#include "platform/win32/system_library.h"

#include <exception>
#include <new>

#include "platform/win32/win32_platform.h"

namespace qtk::win32 {
namespace {

template <typename Fn>
Fn Kernel32Function(const char* name) {
    return FindExport<Fn>(GetModuleHandleW(L"kernel32.dll"), name);
}

// DLLs are then looked for in the system directory only, never beside the program or in
// the current directory, where anybody's downloads may sit.
//
// SetDefaultDllDirectories is resolved at run time: Windows 7 has it only with update
// KB2533623, and a static import would keep the program from starting without it ("To
// call this function in an application ... use GetProcAddress to retrieve its address
// from Kernel32.dll", SetDefaultDllDirectories,
// https://learn.microsoft.com/windows/win32/api/libloaderapi/nf-libloaderapi-setdefaultdlldirectories).
// Without it, the older calls still take the current directory out of the search:
// SetDllDirectoryW(L"") ("removes the current directory from the default DLL search
// order", https://learn.microsoft.com/windows/win32/api/winbase/nf-winbase-setdlldirectoryw)
// and, where present, SetSearchPathMode's safe mode for SearchPath
// (https://learn.microsoft.com/windows/win32/api/winbase/nf-winbase-setsearchpathmode).
void HardenProcess() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetSearchPathModeFn = BOOL(WINAPI*)(DWORD);
    if (const auto set_default =
            Kernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories")) {
        set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    SetDllDirectoryW(L"");
    if (const auto set_mode = Kernel32Function<SetSearchPathModeFn>("SetSearchPathMode")) {
        set_mode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
    }
    HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
}

int Ended(const Failure& failure, const FailureReporter& report, int failure_exit) {
    report(failure);
    if (failure_exit != 0) return failure_exit;
    return failure.code != 0 ? static_cast<int>(failure.code) : 1;
}

}  // namespace

int RunProgram(const std::function<int()>& work, const FailureReporter& report,
               int failure_exit) {
    HardenProcess();
    try {
        return work();
    } catch (const Failure& failure) {
        return Ended(failure, report, failure_exit);
    } catch (const std::bad_alloc&) {
        return Ended(Failure{ERROR_NOT_ENOUGH_MEMORY, L"Out of memory", L""}, report, failure_exit);
    } catch (const std::exception&) {
        return Ended(Failure{ERROR_INTERNAL_ERROR, L"Internal error", L""}, report, failure_exit);
    }
}

std::wstring ErrorReportText(const Failure& failure) {
    std::wstring text = L"Error " + std::to_wstring(failure.code) + L": " +
                        DescribeError(failure.code) + L"\r\n\r\n" + failure.action;
    if (!failure.subject.empty()) text += L":\r\n" + failure.subject;
    return text;
}

void ShowErrorReport(const Failure& failure, std::wstring_view title) {
    const std::wstring text = ErrorReportText(failure);
    MessageBoxW(nullptr, text.c_str(), std::wstring(title).c_str(),
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace qtk::win32
