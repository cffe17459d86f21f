#include "companion/win32/ie11_feature.h"

#include <windows.h>

#include <objbase.h>

#include "platform/win32/system_library.h"
#include "platform/win32/win32_platform.h"

namespace qtk::companion::win32 {
namespace {

// FOLDERID_ProgramFiles, spelt out so that no GUID library is needed: for a 32-bit process
// on 64-bit Windows it is "Program Files (x86)", which the feature fills as well.
constexpr GUID kProgramFiles = {0x905e63b6, 0xc1bf, 0x494e,
                                {0xb2, 0x9c, 0x65, 0xb7, 0x32, 0xd3, 0xd2, 0x1a}};

}  // namespace

Ie11Feature Win32Ie11Feature::Look() {
    qtk::win32::SystemLibrary shell32(L"shell32.dll");
    using KnownFolderFn = HRESULT(WINAPI*)(REFGUID, DWORD, HANDLE, PWSTR*);
    const auto known_folder = shell32.Find<KnownFolderFn>("SHGetKnownFolderPath");
    const std::wstring tail = L"\\Internet Explorer\\iexplore.exe";
    if (known_folder == nullptr) {
        return Ie11Program(L"%ProgramFiles%" + tail, ERROR_PROC_NOT_FOUND, false,
                           L"SHGetKnownFolderPath is not available");
    }
    PWSTR folder = nullptr;
    const HRESULT found = known_folder(kProgramFiles, 0, nullptr, &folder);
    if (FAILED(found)) {
        if (folder != nullptr) CoTaskMemFree(folder);
        return Ie11Program(L"%ProgramFiles%" + tail, static_cast<long>(found), false,
                           L"the Program Files folder is not known: " +
                               qtk::win32::HresultText(found));
    }
    std::wstring program = std::wstring(folder) + tail;
    CoTaskMemFree(folder);
    const DWORD attributes = GetFileAttributesW(program.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return Ie11Program(std::move(program), static_cast<long>(error), false,
                           qtk::win32::ErrorText(error));
    }
    return Ie11Program(std::move(program), 0, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
}

}  // namespace qtk::companion::win32
