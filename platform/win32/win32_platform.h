// The real platform behind the seam: advapi32, kernel32 and user32, nothing more.
#pragma once

#include <windows.h>

#include <string>

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

class Win32MessageBoxes : public MessageBoxes {
public:
    void ShowMessage(std::wstring_view text) override;
};

class Win32Launcher : public ProcessLauncher {
public:
    std::uint32_t Launch(const std::wstring& command_line, int show_state) override;
};

// Called first thing in a program: DLLs are then looked for in the system directory only,
// never beside the program or in the current directory, where anybody's downloads may sit.
void RestrictDllSearch();

// The system's description of a Windows error number, without its trailing line end.
std::wstring DescribeError(DWORD code);

// The one place a failure is reported: a modal OK-only box captioned with the application
// title, naming the error number, its description, what was being done and to what.
void ShowErrorReport(const Failure& failure);

}  // namespace qtk::win32
