// The verdict rule that every check row applies: read the first field of a marker file,
// judge it, paint one status label.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "checks/contract.h"
#include "platform/seam.h"

namespace qtk {

enum class Verdict { Pass, Fail, NoChange };

inline constexpr Colour kPassColor = 0x00C000;  // green
inline constexpr Colour kFailColor = 0x0000FF;  // red

// The first field of a marker file, kept to a bounded head so that a huge field costs no
// memory. The verdict only needs to know whether the field starts with the pass token
// and whether the token occurs anywhere in it, so both are decided while streaming.
struct MarkerField {
    std::wstring head;            // the field's first characters (at most kMarkerHeadLimit)
    std::uint64_t length = 0;     // the field's full length in UTF-16 code units
    bool token_found = false;     // the pass token occurs somewhere in the whole field
    bool token_at_start = false;  // ... and its first occurrence is at the start
    // The rest of the first line after the field (after the comma or the closing quote),
    // for a person: the companion's reason or evidence. Blanks trimmed, characters that
    // are not safe to show replaced by U+FFFD, cut to kReasonLimit with an ellipsis.
    // Empty when nothing follows the field on its line. It never affects the verdict.
    std::wstring reason;
};

inline constexpr std::size_t kMarkerHeadLimit = 256;
// At most this many UTF-16 units of the line are looked at for the reason, blanks and
// all, so a marker whose first line goes on for a gigabyte costs no more than a short one.
inline constexpr std::size_t kReasonLimit = 300;

// Reads the first field of the marker at path (leading blanks skipped, a quoted field, or
// up to comma, CR, LF or end of file; a byte-order mark is honoured) and, in the same
// pass, the bounded rest of its line. Throws Failure when the file cannot be opened or
// holds no bytes at all. The file is closed before return.
MarkerField ReadMarkerField(FileSystem& files, TextCodec& text, const std::wstring& path);

Verdict DecideVerdict(const MarkerField& field);
Verdict DecideVerdict(std::wstring_view field);

// Pass: colour then caption; fail: the same with the fail pair; no change: nothing.
void PaintStatusLabel(StatusLabel& label, Verdict verdict, const StatusWords& words);

// Text read from a marker made safe to show in a tooltip or put on the clipboard: tabs
// become blanks, control characters, unpaired surrogates and noncharacters become U+FFFD,
// blanks at either end go. Exposed for the tests.
std::wstring SafeReasonText(std::wstring_view raw);

void CheckMarkerFile(FileSystem& files, TextCodec& text, const std::wstring& path,
                     StatusLabel& label, const StatusWords& words);

}  // namespace qtk
