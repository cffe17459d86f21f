// Whether each label's caption fits the label, measured in the font the label is drawn
// with.
//
// A font handle belongs to the process that made it, so WM_GETFONT's answer means nothing
// here, and re-creating the font from the program's own code would only repeat what the
// program does. Instead the font is recognised from the screen: the label's client area
// is drawn again in memory, with the label's text, alignment and wrapping (DrawTextW, as
// a static control draws itself), once per installed face and pixel height, and the one
// whose pixels match what is on the screen is the label's font. That font then measures
// the caption: DrawTextW with DT_CALCRECT gives the width of its widest line and how many
// lines it wraps to within the label's width.
//
// Static control styles and the DrawText flags they mean: "Static Control Styles" and
// "DrawText function (winuser.h)", learn.microsoft.com.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "board.h"

namespace probe {
namespace {

struct Candidate {
    std::wstring face;
    int height;  // as CreateFontW takes it: negative is the em height in pixels
    int weight;
};

struct Picture {
    int width, height;
    std::vector<long> pixels;  // 0xRRGGBB, row by row
};

// How a static control of this style lays out its text.
UINT DrawFlags(LONG style) {
    UINT flags = DT_EXPANDTABS;
    switch (style & SS_TYPEMASK) {
        case SS_CENTER: flags |= DT_CENTER | DT_WORDBREAK; break;
        case SS_RIGHT: flags |= DT_RIGHT | DT_WORDBREAK; break;
        case SS_LEFTNOWORDWRAP: flags |= DT_LEFT; break;
        default: flags |= DT_LEFT | DT_WORDBREAK; break;
    }
    if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
    return flags;
}

int CALLBACK CollectFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM lp) {
    if (font->lfFaceName[0] != L'@') {
        reinterpret_cast<std::set<std::wstring>*>(lp)->insert(font->lfFaceName);
    }
    return 1;
}

std::vector<std::wstring> InstalledFaces(HDC dc) {
    std::set<std::wstring> faces;
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(dc, &query, CollectFace, reinterpret_cast<LPARAM>(&faces), 0);
    return {faces.begin(), faces.end()};
}

HFONT MakeFont(const Candidate& c) {
    return CreateFontW(c.height, 0, 0, 0, c.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, c.face.c_str());
}

// A memory surface of one label's size to draw candidates on.
class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height) {
        HDC screen = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen);
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
        bmi.bmiHeader.biWidth = width;
        bmi.bmiHeader.biHeight = -height;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        dib_ = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits_, nullptr, 0);
        ReleaseDC(nullptr, screen);
        if (!dc_ || !dib_ || !bits_) throw ProbeError{"cannot make a surface to draw on"};
        old_ = SelectObject(dc_, dib_);
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(dib_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }

    // The label as it would look in font `font`: background, then the text in `ink`.
    Picture Draw(HFONT font, const std::wstring& text, UINT flags, long background, long ink) {
        const COLORREF bg = RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF);
        HBRUSH brush = CreateSolidBrush(bg);
        RECT all{0, 0, width_, height_};
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
        HGDIOBJ old = SelectObject(dc_, font);
        SetBkMode(dc_, TRANSPARENT);
        SetTextColor(dc_, RGB((ink >> 16) & 0xFF, (ink >> 8) & 0xFF, ink & 0xFF));
        RECT r = all;
        DrawTextW(dc_, text.c_str(), -1, &r, flags);
        GdiFlush();
        SelectObject(dc_, old);
        Picture p{width_, height_, {}};
        const auto* px = static_cast<const DWORD*>(bits_);
        p.pixels.reserve(static_cast<std::size_t>(width_) * height_);
        for (int i = 0; i < width_ * height_; ++i) p.pixels.push_back(static_cast<long>(px[i] & 0xFFFFFF));
        return p;
    }

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP dib_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void* bits_ = nullptr;
};

int Distance(long a, long b) {
    return std::abs(((a >> 16) & 0xFF) - ((b >> 16) & 0xFF)) +
           std::abs(((a >> 8) & 0xFF) - ((b >> 8) & 0xFF)) + std::abs((a & 0xFF) - (b & 0xFF));
}

bool Inked(long pixel, long background) { return Distance(pixel, background) > 96; }

// Pixels that are ink in one picture and not in the other.
long Difference(const Picture& a, const Picture& b, long background) {
    long differ = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        differ += Inked(a.pixels[i], background) != Inked(b.pixels[i], background);
    }
    return differ;
}

struct LabelView {
    HWND hwnd;
    std::wstring text;
    UINT flags;
    Picture seen;
    long background = 0, ink = 0, ink_pixels = 0;
};

LabelView Look(HWND hwnd, const BoardPixels& screen) {
    LabelView v{hwnd, TextOf(hwnd), DrawFlags(GetWindowLongW(hwnd, GWL_STYLE)), {}, 0, 0, 0};
    const RECT client = ClientScreenRect(hwnd);
    v.seen.width = client.right - client.left;
    v.seen.height = client.bottom - client.top;
    std::map<long, long> histogram;
    for (int y = client.top; y < client.bottom; ++y) {
        for (int x = client.left; x < client.right; ++x) {
            const long p = screen.At(x, y);
            v.seen.pixels.push_back(p);
            ++histogram[p];
        }
    }
    long most = -1;
    for (const auto& [colour, n] : histogram) {
        if (n > most) most = n, v.background = colour;
    }
    // Anti-aliased text blends its colour into the background: the text colour itself is
    // the one farthest from it, however few pixels have it exactly.
    int farthest = -1;
    for (const auto& [colour, n] : histogram) {
        const int d = Distance(colour, v.background);
        if (d > farthest) farthest = d, v.ink = colour;
    }
    for (long p : v.seen.pixels) v.ink_pixels += Inked(p, v.background);
    return v;
}

struct Match {
    Candidate font;
    long difference = -1;
};

Match BestFont(Canvas& canvas, const LabelView& label, const std::vector<Candidate>& candidates) {
    Match best;
    for (const Candidate& c : candidates) {
        HFONT font = MakeFont(c);
        if (!font) continue;
        const long d = Difference(canvas.Draw(font, label.text, label.flags, label.background, label.ink),
                                  label.seen, label.background);
        DeleteObject(font);
        if (best.difference < 0 || d < best.difference) best = {c, d};
        if (d == 0) break;
    }
    return best;
}

// A match must explain what is on the screen, not merely be the least wrong.
bool Recognised(const Match& m, const LabelView& label) {
    return m.difference >= 0 && m.difference <= std::max(2L, label.ink_pixels / 20);
}

}  // namespace

// fit: for every label with text, the font recognised on the screen and whether the text
// fits the label in it.
void Fit(const Args&) {
    RequireMain();
    const BoardPixels screen;
    std::vector<LabelView> labels;
    for (const Control& c : Controls()) {
        if (lstrcmpiW(ClassOf(c.hwnd).c_str(), L"Static") != 0) continue;
        LabelView v = Look(c.hwnd, screen);
        if (!v.text.empty() && v.ink_pixels > 0 && v.seen.width > 0 && v.seen.height > 0) {
            labels.push_back(std::move(v));
        }
    }
    if (labels.empty()) throw ProbeError{"no label with text on the board"};

    HDC screen_dc = GetDC(nullptr);
    const std::vector<std::wstring> faces = InstalledFaces(screen_dc);
    ReleaseDC(nullptr, screen_dc);
    std::vector<Candidate> all;
    for (int weight : {FW_NORMAL, FW_BOLD}) {
        for (const std::wstring& face : faces) {
            for (int h = -6; h >= -40; --h) all.push_back({face, h, weight});
        }
    }

    // Recognised once on the label with the most ink, then tried first on every other:
    // the window gives all its labels one font.
    const auto richest = std::max_element(labels.begin(), labels.end(),
        [](const LabelView& a, const LabelView& b) { return a.ink_pixels < b.ink_pixels; });
    Canvas probe_canvas(richest->seen.width, richest->seen.height);
    const Match shared = BestFont(probe_canvas, *richest, all);

    Line("#fit\tid\tface\theight\tweight\tdifference\tink\tneed_w\tlines\tline_h\tclient_w\tclient_h\tfits\ttext");
    for (const LabelView& label : labels) {
        Canvas canvas(label.seen.width, label.seen.height);
        Match m = BestFont(canvas, label, {shared.font});
        if (!Recognised(m, label)) m = BestFont(canvas, label, all);
        if (!Recognised(m, label)) {
            Line("fit\t" + Num(GetDlgCtrlID(label.hwnd)) + "\t?\t0\t0\t" + Num(m.difference) + "\t" +
                 Num(label.ink_pixels) + "\t0\t0\t0\t" + Num(label.seen.width) + "\t" +
                 Num(label.seen.height) + "\tunknown\t" + Field(label.text));
            continue;
        }
        HFONT font = MakeFont(m.font);
        HGDIOBJ old = SelectObject(canvas.dc(), font);
        TEXTMETRICW metrics{};
        GetTextMetricsW(canvas.dc(), &metrics);
        RECT need{0, 0, label.seen.width, 0};
        DrawTextW(canvas.dc(), label.text.c_str(), -1, &need, label.flags | DT_CALCRECT);
        SelectObject(canvas.dc(), old);
        DeleteObject(font);
        const int line_h = std::max<int>(1, metrics.tmHeight);
        const int lines = (need.bottom + line_h - 1) / line_h;
        // Every line must show whole: as wide as the label at most, and as many lines as
        // the label has room for.
        const int room = std::max(1, label.seen.height / line_h);
        const bool fits = need.right <= label.seen.width && lines <= room;
        Line("fit\t" + Num(GetDlgCtrlID(label.hwnd)) + "\t" + Field(m.font.face) + "\t" +
             Num(m.font.height) + "\t" + Num(m.font.weight) + "\t" + Num(m.difference) + "\t" +
             Num(label.ink_pixels) + "\t" + Num(need.right) + "\t" + Num(lines) + "\t" +
             Num(line_h) + "\t" + Num(label.seen.width) + "\t" + Num(label.seen.height) + "\t" +
             (fits ? "yes" : "no") + "\t" + Field(label.text));
    }
}

}  // namespace probe
