// The board read as text: where each status word stands (frame, row, column, as the
// window shows them), the name a screen reader gives it, and the whole board as the
// tab-separated text "Copy results" puts on the clipboard.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qtk {

// A status label of a check group and the fixed texts around it on the window.
struct StatusPlace {
    std::string label;    // layout name, e.g. "userteskquorin"
    std::wstring frame;   // the frame's caption, e.g. "Trusted Sites"
    std::wstring row;     // the caption at the row's left, e.g. "https://tesk.qrn.example"
    std::wstring column;  // the heading above it ("USER", "MACHINE", "Setting"), or empty
};

// The check groups' status labels in layout order (frame by frame, row by row, left to
// right); the identity labels are not among them.
std::span<const StatusPlace> StatusPlaces();

// "tesk.qrn.example, USER: Success": the row without its scheme, the column when the
// frame has one, and the word shown ("-" while unchecked).
std::wstring AccessibleName(const StatusPlace& place, std::wstring_view word);

// One status word as the window shows it now, with the marker's reason (may be empty).
struct StatusResult {
    const StatusPlace* place;
    std::wstring word;
    std::wstring reason;
};

// The title, "Computer Name<TAB>name", "OS<TAB>line", then per status word
// "frame<TAB>row<TAB>column<TAB>word[<TAB>reason]", each line ended by CR LF. Tabs and
// line ends inside any text become blanks, so every line keeps its columns.
std::wstring BoardText(std::wstring_view title, std::wstring_view computer_name,
                       std::wstring_view os_line, std::span<const StatusResult> results);

}  // namespace qtk
