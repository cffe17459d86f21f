// Putting the planned files in place so that the directory never holds a half-written
// file, nor a mix of two examinations that the diagnostic would show as one.
//
// Two phases. First every file is written whole under a temporary name beside its final
// one; a failure there removes the temporary files and leaves the earlier files as they
// were (each whole, and all from one earlier examination). Then each temporary file
// replaces its final name. A failure in that second phase would leave some files new and
// some old, so it removes the temporary files and every final file of the set as well:
// the diagnostic then stops at the first missing marker with its own error report instead
// of painting a board assembled from two examinations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companion/examination.h"
#include "platform/seam.h"

namespace qtk::companion {

// What the writer needs from the file system; each call returns a Windows error number.
class OutputFiles {
public:
    virtual ~OutputFiles() = default;
    // Creates or truncates path, writes bytes, flushes them to the disk and closes it.
    virtual std::uint32_t WriteWhole(const std::wstring& path, std::string_view bytes) = 0;
    // Replaces to with from, in one step, through to the disk.
    virtual std::uint32_t Replace(const std::wstring& from, const std::wstring& to) = 0;
    // Removes path; a path already absent is no error.
    virtual std::uint32_t Remove(const std::wstring& path) = 0;
};

// "C:\tmptk\www_tesk.txt" -> "C:\tmptk\www_tesk.txt.<tag>.tmp", the tag telling one run's
// temporary files from another's.
std::wstring TemporaryPath(const std::wstring& path, std::uint32_t tag);

// Nothing on success; otherwise the failure that stopped it, naming the file.
std::optional<Failure> WriteAll(OutputFiles& files, const std::vector<OutputFile>& plan,
                                std::uint32_t tag);

}  // namespace qtk::companion
