#include "companion/win32/system_library.h"

#include <cwchar>

namespace qtk::companion::win32 {

std::wstring ErrorText(DWORD code, HMODULE module) {
    wchar_t* buffer = nullptr;
    DWORD length = 0;
    if (module != nullptr) {
        length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    }
    if (length == 0) {
        length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    }
    std::wstring text = L"error " + std::to_wstring(code);
    if (length != 0) {
        std::wstring description(buffer, length);
        while (!description.empty() &&
               (description.back() == L'\n' || description.back() == L'\r' ||
                description.back() == L' ' || description.back() == L'.')) {
            description.pop_back();
        }
        if (!description.empty()) text += L": " + description;
    }
    if (buffer != nullptr) LocalFree(buffer);
    return text;
}

std::wstring HresultText(HRESULT result) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

}  // namespace qtk::companion::win32
