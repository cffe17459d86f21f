// The window's fixed layout as data: one table of frames and labels, in twips. Creation
// walks it; nothing is placed by hand-written code.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "checks/marker.h"
#include "platform/seam.h"

namespace qtk {

// "QUORIN Token Key Driver V 6.0 <Thai: supports renewal> (Renewal Self Service)". The
// Thai phrase is spelled in escapes so that the source's own encoding cannot corrupt it.
inline constexpr std::wstring_view kWindowCaption =
    L"QUORIN Token Key Driver V 6.0 "
    L"\u0E23\u0E2D\u0E07\u0E23\u0E31\u0E1A\u0E01\u0E32\u0E23\u0E15\u0E48\u0E2D\u0E2D\u0E32"
    L"\u0E22\u0E38 (Renewal Self Service)";

inline constexpr std::wstring_view kApplicationTitle = L"QUORIN Token Key Check";

inline constexpr int kClientWidthTwips = 11175;
inline constexpr int kClientHeightTwips = 6705;
inline constexpr int kTwipsPerInch = 1440;

// 8.25 points, in hundredths of a point, and the Thai character set.
inline constexpr int kFontCentiPoints = 825;
inline constexpr int kThaiCharset = 222;
inline constexpr std::wstring_view kFontFace = L"MS Sans Serif";

// The fixed green captions are the same green as a passed check.
inline constexpr Colour kGreen = kPassColor;

enum class ControlKind { Frame, FixedLabel, StatusLabel };
enum class Align { Left, Centre };

struct Control {
    std::string name;
    std::string parent;  // empty for a frame: frames sit on the window's client area
    ControlKind kind;
    std::wstring caption;
    int left, top, width, height;  // twips; a label's are relative to its frame
    Align align;
    Colour colour;
};

// Frames first, each followed by its labels, in the order they are created.
std::span<const Control> WindowLayout();

// Twips to pixels at dpi, rounded to nearest: at 96 DPI exactly twips / 15.
int TwipsToPixels(int twips, int dpi);

}  // namespace qtk
