// A system DLL that is not a KnownDLL, loaded from System32 only, when it is first needed.
// A static import would make Windows look for it beside the program first, where a
// downloaded copy could be waiting.
#pragma once

#include <windows.h>

#include <string>

namespace qtk::companion::win32 {

class SystemLibrary {
public:
    explicit SystemLibrary(const wchar_t* name)
        : module_(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)),
          error_(module_ == nullptr ? GetLastError() : 0) {}
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;
    ~SystemLibrary() {
        if (module_ != nullptr) FreeLibrary(module_);
    }

    HMODULE Module() const { return module_; }
    DWORD LoadError() const { return error_; }

    // The export as a typed function pointer; nullptr when the DLL or the export is missing.
    template <typename Function>
    Function Find(const char* name) const {
        if (module_ == nullptr) return nullptr;
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

private:
    HMODULE module_;
    DWORD error_;
};

// "error 12029: A connection with the server could not be established", with the
// description taken from `module` first (WinHTTP keeps its own messages), then the system.
std::wstring ErrorText(DWORD code, HMODULE module = nullptr);

// "0x80004005" for an HRESULT.
std::wstring HresultText(HRESULT result);

}  // namespace qtk::companion::win32
