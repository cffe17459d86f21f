// Putting the planned files in place so that C:\tmptk\ holds, at every moment and whatever
// happens (a reader holding a file, a second run, a kill, a full disk), the complete
// earlier set, the complete new set, or a set the diagnostic refuses with its error report.
//
// The diagnostic reads the OS-version file first and stops with its error report when it
// is missing. So that file is the set's seal: it is moved aside before any other file
// changes and the new one goes in last. Between the two, every earlier file is moved
// aside to a backup (or a "there was none" note is left) before its new file takes the
// name, so that a failure can put each one back. Only once the new seal is in place are
// the backups removed. A run killed in the middle leaves the seal missing and its backups
// beside the files; the next run puts the earlier set back from them before it starts.
//
// Names beside a final file "X" (the tag is random per run, so nobody can plant something
// at a name in advance):
//   X.<tag>.tmp       the new file, written whole before any final name changes
//   X.<tag>.old.tmp   the earlier file, moved aside
//   X.<tag>.none.tmp  empty: there was no earlier file
// All end in ".tmp", so the clean-up script removes them with one wildcard.
//
// Runs are serialised by the caller; two writers in one directory at once are not
// something this order protects against.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companion/examination.h"
#include "platform/seam.h"

namespace qtk::companion {

namespace file_error {
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kLockViolation = 33;
inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kAlreadyExists = 183;
}  // namespace file_error

struct NewFile {
    std::wstring path;
    std::string_view bytes;
};

// What the writer needs from the file system; each call returns a Windows error number.
class OutputFiles {
public:
    virtual ~OutputFiles() = default;
    // Creates path new (kFileExists when anything, a link included, is already there),
    // writes bytes, flushes them to the disk and closes it. Never follows a link. An empty
    // file may be left unflushed: it has no data to lose, and the file system's journal
    // records its name in order with the renames that come after it.
    virtual std::uint32_t WriteWhole(const std::wstring& path, std::string_view bytes) = 0;
    // Each file as WriteWhole writes it, in order, with one error number per file tried;
    // it stops trying after a file it could not create or write, and every file it wrote
    // is on the disk when it returns. This one calls WriteWhole for each; the real file
    // system flushes the files together, which costs a fraction of one flush after another.
    virtual std::vector<std::uint32_t> WriteEach(const std::vector<NewFile>& files);
    // Renames the file from to the free name to; kAlreadyExists when to is taken. Only
    // files: a directory at from is kAccessDenied.
    virtual std::uint32_t Rename(const std::wstring& from, const std::wstring& to) = 0;
    // Removes the file path; a path already absent is no error.
    virtual std::uint32_t Remove(const std::wstring& path) = 0;
    // The names (without the directory) of what is in directory ("C:\tmptk").
    virtual std::uint32_t List(const std::wstring& directory, std::vector<std::wstring>* names) = 0;
    // Waits before a retry of a call refused by a sharing violation.
    virtual void Pause(unsigned milliseconds) = 0;
    // Called once every temporary file is written, and after each rename; a place for the
    // end-to-end tests to stop or kill a run at a chosen point.
    virtual void Checkpoint() {}
};

// "C:\tmptk\www_tesk.txt" -> "C:\tmptk\www_tesk.txt.<tag>.tmp".
std::wstring TemporaryPath(const std::wstring& path, std::wstring_view tag);

// A call refused by a sharing violation is tried again this often, kRetryPauseMs apart:
// a reader (the diagnostic, an antivirus, a backup agent) usually lets go within a moment.
inline constexpr int kSharingRetries = 20;
inline constexpr unsigned kRetryPauseMs = 100;

// Puts back an earlier set that a killed run left half replaced, and removes every
// temporary, backup and note of earlier runs. Failures are left for the write to meet.
void RepairAndSweep(OutputFiles& files, const std::vector<OutputFile>& plan);

// Nothing on success; otherwise the failure that stopped it, naming the file. Runs
// RepairAndSweep first. tag: letters and digits, unpredictable, new for every run.
std::optional<Failure> WriteAll(OutputFiles& files, const std::vector<OutputFile>& plan,
                                std::wstring_view tag);

}  // namespace qtk::companion
