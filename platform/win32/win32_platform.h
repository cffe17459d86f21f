// The real platform behind the seam: advapi32, kernel32 and user32, nothing more.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/seam.h"

namespace qtk::win32 {

class Win32FileSystem : public FileSystem {
public:
    std::unique_ptr<InputFile> OpenForReading(const std::wstring& path) override;
};

class Win32Registry : public Registry {
public:
    long OpenKeyA(RegistryKey root, const std::string& path, std::uint32_t options,
                  std::uint32_t access, RegistryKey* key) override;
    long QueryValueA(RegistryKey key, const std::string& value_name, std::uint32_t* type,
                     unsigned char* data, std::uint32_t* size) override;
    long CloseKey(RegistryKey key) override;
};

class Win32TextCodec : public TextCodec {
public:
    std::wstring FromAnsi(std::string_view bytes) override;
    std::string ToAnsi(std::wstring_view text) override;
    bool IsLeadByte(unsigned char byte) override;
};

// Captioned with the program's title, which the program passes in.
class Win32MessageBoxes : public MessageBoxes {
public:
    explicit Win32MessageBoxes(std::wstring title) : title_(std::move(title)) {}
    void ShowMessage(std::wstring_view text) override;

private:
    std::wstring title_;
};

class Win32Launcher : public ProcessLauncher {
public:
    std::uint32_t Launch(const std::wstring& command_line, int show_state) override;
};

// The system's description of a Windows error number, without its trailing line end;
// asked of module first when one is given (WinHTTP keeps its own messages).
std::wstring DescribeError(DWORD code, HMODULE module = nullptr);

// "error 12029: A connection with the server could not be established", for a reason.
std::wstring ErrorText(DWORD code, HMODULE module = nullptr);

// "0x80004005" for an HRESULT.
std::wstring HresultText(HRESULT result);

// Writes all of bytes to an open file, pipe or console handle, in pieces of at most 1 MiB
// (WriteFile takes a DWORD count). ERROR_SUCCESS, or the Windows error that stopped it.
DWORD WriteWhole(HANDLE handle, std::string_view bytes);

// Writes bytes as the whole new content of path: under a new, unpredictable name beside it
// (created new, never through a link planted there), flushed, then renamed over path, so
// that a reader finds the earlier file whole or the new one whole. ERROR_SUCCESS, or the
// Windows error of the step that failed (the temporary is then removed).
DWORD ReplaceFileWhole(const std::wstring& path, std::string_view bytes);

}  // namespace qtk::win32
