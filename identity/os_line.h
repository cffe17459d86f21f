// The OS-version file that the set-up scripts leave, and the OS line built from it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "checks/contract.h"
#include "platform/seam.h"

namespace qtk {

// The most of the version line that is kept. The line is shown in one label; a file that
// is not a version line at all must not be able to fill memory.
inline constexpr std::size_t kVersionLineLimit = 4096;

// The first line of the file at path: everything up to the first CR (a CR LF pair or the
// end of the file also ends it; a lone LF does not). Nothing is trimmed. A byte-order
// mark is honoured. Throws Failure when the file cannot be opened or holds no bytes.
std::wstring ReadVersionLine(FileSystem& files, TextCodec& text, const std::wstring& path);

// product + one blank + (service_pack when version_line is exactly the contract's fail
// line, else
// version_line). The blank is always there.
std::wstring ComposeOsLine(std::wstring_view product, std::wstring_view service_pack,
                           std::wstring_view version_line);

}  // namespace qtk
