// Whole-file writes and renames on the real file system, and the lock that keeps two
// examinations from writing into C:\tmptk\ at once.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "companion/output_writer.h"

namespace qtk::companion::win32 {

class Win32OutputFiles : public OutputFiles {
public:
    // Only in the end-to-end tests' build (QTK_WRITER_FAULTS, tkexamine_faults.exe), never
    // in the shipped program: reads the fault hook TKEXAMINE_TEST_FAULT. "kill-after:N"
    // ends the process at the N-th checkpoint as a kill would, without any clean-up;
    // "hold-while:PATH" waits at the first checkpoint (every temporary written) for as
    // long as PATH exists, at most two minutes.
    Win32OutputFiles();

    std::uint32_t WriteWhole(const std::wstring& path, std::string_view bytes) override;
    std::vector<std::uint32_t> WriteEach(const std::vector<NewFile>& files) override;
    std::uint32_t Rename(const std::wstring& from, const std::wstring& to) override;
    std::uint32_t Remove(const std::wstring& path) override;
    std::uint32_t List(const std::wstring& directory, std::vector<std::wstring>* names) override;
    void Pause(unsigned milliseconds) override;
    void Checkpoint() override;

private:
    // Threads that flush beside the calling one.
    static constexpr std::size_t kFlushHelpers = 7;

    // Creates path new and writes bytes; on success the open handle is left in *handle.
    DWORD CreateAndWrite(const std::wstring& path, std::string_view bytes, HANDLE* handle);
    // Flushes (when flush) and closes every handle, several at a time; the error of each
    // is left in flush_errors_.
    void FlushAndClose(const HANDLE* handles, std::size_t count, bool flush);

    std::vector<std::uint32_t> flush_errors_;
    int kill_after_ = 0;
    std::wstring hold_while_;
    int checkpoints_ = 0;
};

// The fix's fault hook, read only by the end-to-end tests' build (as the writer's):
// "kill-after-value:N" ends the process the moment the Nth registry value of a fix is set.
void FaultAfterFixValue(std::size_t done);

// 32 hexadecimal digits from the system's random number generator.
std::wstring RandomTag();

// One examination at a time on this machine, across sessions: a named mutex in the
// Global namespace. A second run waits up to wait_ms for the first to end, then throws a
// Failure (ERROR_BUSY) saying another examination is running. A mutex left by a run that
// was killed counts as free; the writer repairs what that run left.
class RunLock {
public:
    explicit RunLock(DWORD wait_ms);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

private:
    HANDLE mutex_ = nullptr;
};

}  // namespace qtk::companion::win32
