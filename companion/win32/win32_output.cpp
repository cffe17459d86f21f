#include "companion/win32/win32_output.h"

#include <windows.h>
// SystemFunction036 (RtlGenRandom) lives in advapi32, which is loaded anyway.
#include <ntsecapi.h>

#include <algorithm>
#include <cwchar>

#include "checks/contract.h"
#include "platform/seam.h"

namespace qtk::companion::win32 {
namespace {

#ifdef QTK_WRITER_FAULTS
std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    if (length == 0 || length >= 1024) return {};
    return std::wstring(buffer, length);
}
#endif

}  // namespace

void FaultAfterFixValue(std::size_t done) {
#ifdef QTK_WRITER_FAULTS
    const std::wstring fault = Environment(L"TKEXAMINE_TEST_FAULT");
    constexpr std::wstring_view kKill = L"kill-after-value:";
    if (fault.rfind(kKill, 0) == 0 &&
        static_cast<std::size_t>(_wtoi(fault.c_str() + kKill.size())) == done) {
        TerminateProcess(GetCurrentProcess(), 99);
    }
#else
    (void)done;
#endif
}

Win32OutputFiles::Win32OutputFiles() {
#ifdef QTK_WRITER_FAULTS
    const std::wstring fault = Environment(L"TKEXAMINE_TEST_FAULT");
    constexpr std::wstring_view kKill = L"kill-after:";
    constexpr std::wstring_view kHold = L"hold-while:";
    if (fault.rfind(kKill, 0) == 0) kill_after_ = _wtoi(fault.c_str() + kKill.size());
    if (fault.rfind(kHold, 0) == 0) hold_while_ = fault.substr(kHold.size());
#endif
}

std::uint32_t Win32OutputFiles::WriteWhole(const std::wstring& path, std::string_view bytes) {
    HANDLE file = INVALID_HANDLE_VALUE;
    const DWORD error = CreateAndWrite(path, bytes, &file);
    if (error != ERROR_SUCCESS) return error;
    // An empty file (a note that there was no earlier file) has no data a power cut could
    // lose; the journal puts its name on the disk before the renames that follow it.
    FlushAndClose(&file, 1, !bytes.empty());
    return flush_errors_[0];
}

std::vector<std::uint32_t> Win32OutputFiles::WriteEach(const std::vector<NewFile>& files) {
    std::vector<std::uint32_t> codes;
    std::vector<HANDLE> handles;
    codes.reserve(files.size());
    handles.reserve(files.size());
    for (const NewFile& file : files) {
        HANDLE handle = INVALID_HANDLE_VALUE;
        codes.push_back(CreateAndWrite(file.path, file.bytes, &handle));
        if (codes.back() != ERROR_SUCCESS) break;
        handles.push_back(handle);
    }
    // Every file written, then all flushed at once: a file system commits the flushes that
    // wait together in one go, where one after another each pays a whole commit.
    // After a failure the files are only closed: they are about to be removed.
    const bool all_written = codes.size() == files.size() && (codes.empty() || codes.back() == 0);
    FlushAndClose(handles.data(), handles.size(), all_written);
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (codes[i] == ERROR_SUCCESS) codes[i] = flush_errors_[i];
    }
    return codes;
}

DWORD Win32OutputFiles::CreateAndWrite(const std::wstring& path, std::string_view bytes,
                                       HANDLE* handle) {
    // CREATE_NEW and the link itself: whatever already sits at the name (a link planted
    // there to send the bytes elsewhere, say) makes this fail instead of being followed.
    // No sharing while it is written: nobody reads a file that is not whole yet.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done);
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            return error;
        }
        done += written;
    }
    *handle = file;
    return ERROR_SUCCESS;
}

namespace {

struct FlushWork {
    const HANDLE* handles;
    std::uint32_t* errors;
    LONG count;
    bool flush;
    volatile LONG next;
};

// Takes the next file until none is left. The data is on the disk before any new name
// points at it, so a power cut cannot leave a new name pointing at missing data.
DWORD WINAPI FlushFiles(void* parameter) {
    auto* work = static_cast<FlushWork*>(parameter);
    for (;;) {
        const LONG i = InterlockedIncrement(&work->next) - 1;
        if (i >= work->count) return 0;
        DWORD error = ERROR_SUCCESS;
        if (work->flush && !FlushFileBuffers(work->handles[i])) error = GetLastError();
        if (!CloseHandle(work->handles[i]) && error == ERROR_SUCCESS) error = GetLastError();
        work->errors[i] = error;
    }
}

}  // namespace

void Win32OutputFiles::FlushAndClose(const HANDLE* handles, std::size_t count, bool flush) {
    flush_errors_.assign(count, ERROR_SUCCESS);
    FlushWork work{handles, flush_errors_.data(), static_cast<LONG>(count), flush, 0};
    // A few helpers beside this thread; should none start, this thread does it all.
    HANDLE helpers[kFlushHelpers];
    DWORD started = 0;
    const std::size_t wanted =
        flush && count > 1 ? std::min<std::size_t>(kFlushHelpers, count - 1) : 0;
    for (std::size_t i = 0; i < wanted; ++i) {
        HANDLE helper = CreateThread(nullptr, 64 * 1024, FlushFiles, &work,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (helper == nullptr) break;
        helpers[started++] = helper;
    }
    FlushFiles(&work);
    if (started > 0) WaitForMultipleObjects(started, helpers, TRUE, INFINITE);
    for (DWORD i = 0; i < started; ++i) CloseHandle(helpers[i]);
}

std::uint32_t Win32OutputFiles::Rename(const std::wstring& from, const std::wstring& to) {
    const DWORD attributes = GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
    // A directory at a marker's name is no earlier file to keep; moving it aside would
    // only hide it.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
    // No MOVEFILE_WRITE_THROUGH: it only concerns a move done as a copy and a delete,
    // which a rename within the directory never is, and the journal keeps the renames in
    // the order they were made. (Wine honours it with a synchronous open that makes every
    // later removal wait for the disk.)
    if (MoveFileExW(from.c_str(), to.c_str(), 0)) return ERROR_SUCCESS;
    return GetLastError();
}

std::uint32_t Win32OutputFiles::Remove(const std::wstring& path) {
    // Through a handle on the name itself, and only when that handle is the file at this
    // very path: a link planted here is removed as a link on Windows, but Wine opens the
    // file a Unix link points at, and deleting through that handle would delete the file
    // elsewhere. Such a name is left alone; the random names never meet it.
    HANDLE file = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS
                                                                                : error;
    }
    DWORD error = ERROR_SUCCESS;
    wchar_t final_path[MAX_PATH + 8];
    const DWORD length = GetFinalPathNameByHandleW(file, final_path, MAX_PATH + 8,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const std::wstring expected = L"\\\\?\\" + path;
    if (length == 0 || length >= MAX_PATH + 8 ||
        CompareStringOrdinal(final_path, static_cast<int>(length), expected.c_str(),
                             static_cast<int>(expected.size()), TRUE) != CSTR_EQUAL) {
        error = ERROR_ACCESS_DENIED;
    } else {
        FILE_DISPOSITION_INFO disposition{TRUE};
        if (!SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition)) {
            error = GetLastError();
        }
    }
    CloseHandle(file);
    return error;
}

std::uint32_t Win32OutputFiles::List(const std::wstring& directory,
                                     std::vector<std::wstring>* names) {
    names->clear();
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names->push_back(name);
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

void Win32OutputFiles::Pause(unsigned milliseconds) { Sleep(milliseconds); }

void Win32OutputFiles::Checkpoint() {
    ++checkpoints_;
    if (kill_after_ > 0 && checkpoints_ == kill_after_) TerminateProcess(GetCurrentProcess(), 99);
    if (!hold_while_.empty() && checkpoints_ == 1) {
        for (int waited = 0; waited < 1200; ++waited) {
            if (GetFileAttributesW(hold_while_.c_str()) == INVALID_FILE_ATTRIBUTES) break;
            Sleep(100);
        }
    }
}

std::wstring RandomTag() {
    unsigned char bytes[16];
    if (!RtlGenRandom(bytes, sizeof bytes)) {
        throw Failure{GetLastError(), L"Cannot draw a random name for the temporary files", L""};
    }
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring tag;
    for (const unsigned char byte : bytes) {
        tag += kDigits[byte >> 4];
        tag += kDigits[byte & 15];
    }
    return tag;
}

RunLock::RunLock(DWORD wait_ms) {
    // With the creator's default security: an examination under another account may
    // leave it unopenable, which is then reported as that examination running.
    mutex_ = CreateMutexW(nullptr, FALSE, L"Global\\Quorin.TokenKeyCheck.Examine");
    if (mutex_ == nullptr) {
        const DWORD error = GetLastError();
        throw Failure{error == ERROR_ACCESS_DENIED ? static_cast<DWORD>(ERROR_BUSY) : error,
                      L"Another examination is running under another account; run this one "
                      L"again when it has ended",
                      std::wstring(kMarkerDirectoryPath)};
    }
    const DWORD waited = WaitForSingleObject(mutex_, wait_ms);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return;
    const DWORD error = waited == WAIT_TIMEOUT ? static_cast<DWORD>(ERROR_BUSY) : GetLastError();
    CloseHandle(mutex_);
    mutex_ = nullptr;
    throw Failure{error,
                  L"Another examination is writing its files; run this one again when it "
                  L"has ended",
                  std::wstring(kMarkerDirectoryPath)};
}

RunLock::~RunLock() {
    if (mutex_ == nullptr) return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
}

}  // namespace qtk::companion::win32
