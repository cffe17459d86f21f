// The console side of tkexamine: text to the standard output and error, whether they are
// a console window, a file or a pipe read by a management agent; and the report file,
// put in place whole or not at all.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/seam.h"

namespace qtk::companion::win32 {

// A console gets the text as it is (WriteConsoleW); a file or a pipe gets UTF-8 with
// CR LF line ends. Nothing happens when the handle is missing.
void WriteText(DWORD std_handle, std::wstring_view text);

// Bytes as they are, for the JSON report on the standard output; false when they could
// not all be written.
bool WriteBytes(DWORD std_handle, std::string_view bytes);

// Writes bytes under a new, unpredictable name beside path (created, never opened: a
// planted file or link there makes the creation fail and another name is tried), flushes
// it, then renames it over path. Nothing when it worked; otherwise the failure, with no
// temporary file left and any earlier file at path untouched.
std::optional<Failure> ReplaceFileWhole(const std::wstring& path, std::string_view bytes);

// Whether path names an existing folder, or is spelled as one (ends in a separator).
bool IsFolder(const std::wstring& path);

}  // namespace qtk::companion::win32
