// The Win32 side of Form2: one top-level window built from the layout table, whose labels
// the check sequence writes through the LabelBoard seam.
#pragma once

#include <windows.h>

#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/form2.h"
#include "app/layout.h"
#include "app/win32/board_extras.h"
#include "platform/seam.h"

namespace qtk::win32 {

class Form2Window : public LabelBoard {
public:
    // Creates the window, hidden, with every frame and label in place. Throws Failure.
    Form2Window(HINSTANCE instance, const Platform& platform);
    ~Form2Window() override;
    Form2Window(const Form2Window&) = delete;
    Form2Window& operator=(const Form2Window&) = delete;

    // Raises Load (the check sequence), then shows the window centred.
    void LoadAndShow();
    // Pumps messages until the window is gone; rethrows a failure raised while closing.
    void RunUntilClosed();

    StatusLabel& Label(std::string_view name) override;

private:
    class Win32Label;

    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK StatusLabelProc(HWND hwnd, UINT message, WPARAM wparam,
                                            LPARAM lparam);
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

    void OnCreate();
    void OnClose();
    // After Load: the window menu's item. The reasons' tooltip and the accessible names
    // come when first wanted.
    void AddExtras();
    void OnFirstMouseMove(WPARAM wparam, LPARAM lparam);
    void NameLabels();
    void CopyResults();
    LRESULT OnLabelColour(HDC dc, HWND control);

    HFONT MakeFont(int weight) const;
    int Px(int twips) const { return TwipsToPixels(twips, dpi_); }

    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    Form2 form_;
    HFONT label_font_ = nullptr;
    HFONT frame_font_ = nullptr;
    std::map<HWND, Colour> colours_;  // every control's current text colour
    std::map<std::string, std::unique_ptr<Win32Label>, std::less<>> labels_;
    std::exception_ptr pending_;  // a failure raised inside the window procedure
    ReasonTips tips_;
    AccessibleNames names_;
    bool loaded_ = false;  // Load is over and every word is painted
    bool tips_added_ = false;
    bool names_added_ = false;
};

}  // namespace qtk::win32
