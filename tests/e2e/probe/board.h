// The board's controls and its pixels on the screen, for the commands that read them.
#pragma once

#include "probe.h"

namespace probe {

struct Control {
    HWND hwnd;
    HWND parent;
    int depth;
};

// Every descendant of the main window in creation order, each parent before its children.
std::vector<Control> Controls();

// 0xRRGGBB of a COLORREF.
long Rgb(COLORREF c);

// The board's own area of the screen, read once into memory.
class BoardPixels {
public:
    BoardPixels();
    // 0xRRGGBB of the screen pixel at (x, y), or -1 outside the board.
    long At(int x, int y) const;

private:
    std::vector<DWORD> Capture() const;
    bool LabelsInked() const;

    RECT area_{};
    std::vector<DWORD> pixels_;
};

}  // namespace probe
