#include "platform/win32/win32_platform.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace qtk::win32 {
namespace {

class Win32File : public InputFile {
public:
    Win32File(HANDLE handle, std::wstring path, std::uint64_t size)
        : handle_(handle), path_(std::move(path)), size_(size) {}
    ~Win32File() override { Close(); }

    std::uint64_t SizeAtOpen() const override { return size_; }

    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        const DWORD wanted = capacity > 0x40000000u ? 0x40000000u : static_cast<DWORD>(capacity);
        DWORD got = 0;
        if (!ReadFile(handle_, buffer, wanted, &got, nullptr)) {
            throw Failure{GetLastError(), L"Cannot read the file", path_};
        }
        return got;
    }

    void Close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return;
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
    std::wstring path_;
    std::uint64_t size_;
};

}  // namespace

std::unique_ptr<InputFile> Win32FileSystem::OpenForReading(const std::wstring& path) {
    // Others may keep reading the file while we do, but we never lock it against them.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        throw Failure{GetLastError(), L"Cannot open the file", path};
    }
    // A pipe or a device at the path (a FIFO or a link to /dev/zero under Wine, say) opens
    // without waiting but may never end or never answer a read, so only a disk file is
    // read. Its size is taken now: what is appended while we read is not read.
    // GetFileType: https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-getfiletype
    auto refuse = [&](DWORD code) -> std::unique_ptr<InputFile> {
        CloseHandle(handle);
        throw Failure{code, L"Cannot read the file: it is not a disk file", path};
    };
    SetLastError(ERROR_SUCCESS);
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        const DWORD error = GetLastError();
        return refuse(error != ERROR_SUCCESS ? error : ERROR_OPEN_FAILED);
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size) || size.QuadPart < 0) {
        const DWORD error = GetLastError();
        return refuse(error != ERROR_SUCCESS ? error : ERROR_OPEN_FAILED);
    }
    return std::make_unique<Win32File>(handle, path, static_cast<std::uint64_t>(size.QuadPart));
}

long Win32Registry::OpenKeyA(RegistryKey root, const std::string& path, std::uint32_t options,
                             std::uint32_t access, RegistryKey* key) {
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(reinterpret_cast<HKEY>(root), path.c_str(), options,
                                      static_cast<REGSAM>(access), &opened);
    if (result == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(opened);
    return result;
}

long Win32Registry::QueryValueA(RegistryKey key, const std::string& value_name,
                                std::uint32_t* type, unsigned char* data, std::uint32_t* size) {
    DWORD value_type = 0;
    DWORD value_size = size ? *size : 0;
    const LONG result = RegQueryValueExA(reinterpret_cast<HKEY>(key), value_name.c_str(),
                                         nullptr, &value_type, data, size ? &value_size : nullptr);
    if (type) *type = value_type;
    if (size) *size = value_size;
    return result;
}

long Win32Registry::CloseKey(RegistryKey key) { return RegCloseKey(reinterpret_cast<HKEY>(key)); }

std::wstring Win32TextCodec::FromAnsi(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int length = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.data(), needed);
    return text;
}

std::string Win32TextCodec::ToAnsi(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, bytes.data(), needed, nullptr, nullptr);
    return bytes;
}

bool Win32TextCodec::IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

void Win32MessageBoxes::ShowMessage(std::wstring_view text) {
    const std::wstring message(text);
    MessageBoxW(nullptr, message.c_str(), title_.c_str(), MB_OK);
}

std::uint32_t Win32Launcher::Launch(const std::wstring& command_line, int show_state) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show_state);
    PROCESS_INFORMATION process{};
    // CreateProcessW may write into the command line, so it gets a private copy.
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        throw Failure{GetLastError(), L"Cannot start the clean-up script", command_line};
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

namespace {

// The message text of code, from module first when one is given; empty when neither has one.
std::wstring MessageText(DWORD code, HMODULE module) {
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
    std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

}  // namespace

std::wstring DescribeError(DWORD code, HMODULE module) {
    const std::wstring text = MessageText(code, module);
    return text.empty() ? L"Unknown error." : text;
}

std::wstring ErrorText(DWORD code, HMODULE module) {
    std::wstring text = L"error " + std::to_wstring(code);
    std::wstring description = MessageText(code, module);
    // A reason goes on after it; the sentence's own full stop would end it early.
    while (!description.empty() && description.back() == L'.') description.pop_back();
    if (!description.empty()) text += L": " + description;
    return text;
}

std::wstring HresultText(HRESULT result) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

DWORD WriteWhole(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), piece, &written, nullptr) || written == 0) {
            const DWORD error = GetLastError();
            return error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error;
        }
        bytes.remove_prefix(written);
    }
    return ERROR_SUCCESS;
}

DWORD ReplaceFileWhole(const std::wstring& path, std::string_view bytes) {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    unsigned long long seed = static_cast<unsigned long long>(counter.QuadPart) ^
                              (static_cast<unsigned long long>(GetCurrentProcessId()) << 32);
    HANDLE file = INVALID_HANDLE_VALUE;
    std::wstring temporary;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        temporary = path + L"." + std::to_wstring(seed >> 16) + L".tmp";
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
        }
    }
    if (file == INVALID_HANDLE_VALUE) return error;
    error = WriteWhole(file, bytes);
    // On the disk before it replaces anything: the file is whole or absent.
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
    if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
    if (error == ERROR_SUCCESS &&
        !MoveFileExW(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) DeleteFileW(temporary.c_str());
    return error;
}

}  // namespace qtk::win32
