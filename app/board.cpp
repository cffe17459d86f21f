#include "app/board.h"

#include "app/layout.h"

namespace qtk {
namespace {

constexpr int kHeadingTop = 360;
constexpr int kRowCaptionLeft = 240;

const Control* FindByName(std::string_view name) {
    for (const Control& c : WindowLayout()) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

// Derived from the layout itself, so the names say what a sighted user reads around the
// word: the caption at the left of its row and the highlighted heading above its column.
std::vector<StatusPlace> BuildPlaces() {
    std::vector<StatusPlace> places;
    const auto layout = WindowLayout();
    for (const Control& status : layout) {
        if (status.kind != ControlKind::StatusLabel || status.name == "comname" ||
            status.name == "os") {
            continue;
        }
        const Control* frame = FindByName(status.parent);
        StatusPlace place{status.name, frame ? frame->caption : std::wstring(), {}, {}};
        const int centre = status.left + status.width / 2;
        for (const Control& c : layout) {
            if (c.kind != ControlKind::FixedLabel || c.parent != status.parent) continue;
            const bool heading = c.colour == kHighlightColour;
            if (!heading && c.left == kRowCaptionLeft && c.top == status.top) {
                place.row = c.caption;
            } else if (heading && c.top == kHeadingTop && c.left != kRowCaptionLeft &&
                       centre >= c.left && centre < c.left + c.width) {
                place.column = c.caption;
            }
        }
        places.push_back(std::move(place));
    }
    return places;
}

// Keeps a field on its own line and in its own column.
void AppendField(std::wstring& out, std::wstring_view text) {
    for (wchar_t c : text) out.push_back(c == L'\t' || c == L'\r' || c == L'\n' ? L' ' : c);
}

}  // namespace

std::span<const StatusPlace> StatusPlaces() {
    static const std::vector<StatusPlace> places = BuildPlaces();
    return places;
}

std::wstring AccessibleName(const StatusPlace& place, std::wstring_view word) {
    std::wstring_view row = place.row;
    // The scheme is noise when heard; the host tells the sites apart.
    if (const auto at = row.find(L"://"); at != std::wstring_view::npos) row.remove_prefix(at + 3);
    std::wstring name(row);
    if (!place.column.empty()) name += L", " + place.column;
    name += L": ";
    name += word;
    return name;
}

std::wstring BoardText(std::wstring_view title, std::wstring_view computer_name,
                       std::wstring_view os_line, std::span<const StatusResult> results) {
    std::wstring out;
    AppendField(out, title);
    out += L"\r\nComputer Name\t";
    AppendField(out, computer_name);
    out += L"\r\nOS\t";
    AppendField(out, os_line);
    out += L"\r\n";
    for (const StatusResult& r : results) {
        AppendField(out, r.place->frame);
        out += L'\t';
        AppendField(out, r.place->row);
        out += L'\t';
        AppendField(out, r.place->column);
        out += L'\t';
        AppendField(out, r.word);
        if (!r.reason.empty()) {
            out += L'\t';
            AppendField(out, r.reason);
        }
        out += L"\r\n";
    }
    return out;
}

}  // namespace qtk
