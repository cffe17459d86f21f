#include "platform/win32/program.h"

#include <exception>
#include <new>

#include "platform/win32/win32_platform.h"

namespace qtk::win32 {
namespace {

// DLLs are then looked for in the system directory only, never beside the program or in
// the current directory, where anybody's downloads may sit.
void HardenProcess() {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
    HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
}

int Ended(const Failure& failure, const FailureReporter& report) {
    report(failure);
    return failure.code != 0 ? static_cast<int>(failure.code) : 1;
}

}  // namespace

int RunProgram(const std::function<int()>& work, const FailureReporter& report) {
    HardenProcess();
    try {
        return work();
    } catch (const Failure& failure) {
        return Ended(failure, report);
    } catch (const std::bad_alloc&) {
        return Ended(Failure{ERROR_NOT_ENOUGH_MEMORY, L"Out of memory", L""}, report);
    } catch (const std::exception&) {
        return Ended(Failure{ERROR_INTERNAL_ERROR, L"Internal error", L""}, report);
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
