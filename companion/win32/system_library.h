// System DLLs for the companion's Windows side, and the texts of the errors they answer.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/system_library.h"

namespace qtk::companion::win32 {

using qtk::win32::SystemLibrary;

// "error 12029: A connection with the server could not be established", with the
// description taken from `module` first (WinHTTP keeps its own messages), then the system.
std::wstring ErrorText(DWORD code, HMODULE module = nullptr);

// "0x80004005" for an HRESULT.
std::wstring HresultText(HRESULT result);

}  // namespace qtk::companion::win32
