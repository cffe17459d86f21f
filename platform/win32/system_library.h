// System DLLs that are not KnownDLLs (comctl32, oleacc, urlmon, winhttp, xmllite, winscard,
// crypt32, wtsapi32), loaded from System32 only, when first needed. A static import, or a
// plain LoadLibrary, would make Windows look beside the program first, where a downloaded
// copy could be waiting.
#pragma once

#include <windows.h>

namespace qtk::win32 {

// The DLL from System32, or nullptr with GetLastError() set. Windows 7 without update
// KB2533623 does not know LOAD_LIBRARY_SEARCH_SYSTEM32 and refuses it with
// ERROR_INVALID_PARAMETER ("LoadLibraryExW function",
// https://learn.microsoft.com/windows/win32/api/libloaderapi/nf-libloaderapi-loadlibraryexw);
// there the DLL is named by its full System32 path, which no search can redirect.
HMODULE LoadSystemLibrary(const wchar_t* name);

// An export as a typed function pointer; nullptr when the module or the export is missing.
template <typename Function>
Function FindExport(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A system DLL held for the lifetime of the object.
class SystemLibrary {
public:
    explicit SystemLibrary(const wchar_t* name)
        : module_(LoadSystemLibrary(name)), error_(module_ == nullptr ? GetLastError() : 0) {}
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;
    ~SystemLibrary() {
        if (module_ != nullptr) FreeLibrary(module_);
    }

    HMODULE Module() const { return module_; }
    DWORD LoadError() const { return error_; }

    template <typename Function>
    Function Find(const char* name) const {
        return FindExport<Function>(module_, name);
    }

private:
    HMODULE module_;
    DWORD error_;
};

}  // namespace qtk::win32
