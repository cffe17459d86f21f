#include "app/layout.h"

#include <vector>

#include "checks/tables.h"

namespace qtk {
namespace {

constexpr int kRowHeight = 255;
constexpr int kTallRow = 375;

Control Frame(const char* name, const wchar_t* caption, int left, int top, int width,
              int height) {
    return {name, "", ControlKind::Frame, caption, left, top, width, height, Align::Left,
            kHighlightColour};
}

Control Fixed(const char* frame, std::string_view name, std::wstring caption, int left, int top,
              int width, int height = kRowHeight, Align align = Align::Left,
              Colour colour = kButtonTextColour) {
    return {std::string(name), frame, ControlKind::FixedLabel, std::move(caption), left, top,
            width, height, align, colour};
}

Control Heading(const char* frame, const char* name, const wchar_t* caption, int left, int width,
                Align align) {
    return Fixed(frame, name, caption, left, 360, width, kRowHeight, align, kHighlightColour);
}

Control Status(const char* frame, std::string_view name, int left, int top, int width) {
    return {std::string(name), frame, ControlKind::StatusLabel, L"-", left, top, width,
            kRowHeight, Align::Centre, kButtonTextColour};
}

int RowTop(std::size_t index) { return 720 + 360 * static_cast<int>(index); }

std::vector<Control> BuildLayout() {
    std::vector<Control> c;

    c.push_back(Frame("Frame1", L"OS Platform", 240, 240, 5295, 1215));
    c.push_back(Fixed("Frame1", "lbComputerName", L"Computer Name", 240, 360, 1215));
    c.push_back({"comname", "Frame1", ControlKind::StatusLabel, L"comname", 1560, 360, 2055,
                 kRowHeight, Align::Left, kGreen});
    c.push_back({"os", "Frame1", ControlKind::StatusLabel, L"OS", 240, 720, 4455, kRowHeight,
                 Align::Left, kGreen});

    c.push_back(Frame("Frame2", L"Trusted Sites", 5760, 1680, 5175, 4815));
    c.push_back(Heading("Frame2", "Label1", L"Trusted Sites Web", 240, 1695, Align::Left));
    c.push_back(Heading("Frame2", "lbuser1", L"USER", 3240, 615, Align::Left));
    c.push_back(Heading("Frame2", "lbmachine1", L"MACHINE", 4200, 855, Align::Left));
    static constexpr int kSiteWidths[] = {1815, 1815, 1695, 1935, 1815, 1815,
                                          2055, 2295, 2535, 2655, 1815};
    const auto sites = TrustedSites();
    for (std::size_t i = 0; i < sites.size(); ++i) {
        const TrustedSite& site = sites[i];
        c.push_back(Fixed("Frame2", site.caption_label, SiteCaption(site), 240, RowTop(i),
                          kSiteWidths[i]));
        c.push_back(Status("Frame2", site.user.label, 3000, RowTop(i), 975));
        c.push_back(Status("Frame2", site.machine.label, 4035, RowTop(i), 1020));
    }

    c.push_back(Frame("Frame3", L"Software Install", 5760, 240, 5175, 1215));
    static constexpr int kPackageWidths[] = {2535, 3495};
    const auto packages = SoftwarePackages();
    for (std::size_t i = 0; i < packages.size(); ++i) {
        const int top = 360 + 360 * static_cast<int>(i);
        c.push_back(Fixed("Frame3", packages[i].caption_label,
                          std::wstring(packages[i].display_name), 240, top, kPackageWidths[i],
                          kTallRow));
        c.push_back(Status("Frame3", packages[i].row.label, 4080, top, 855));
    }

    c.push_back(Frame("Frame4", L"Security level Script Setting for Trusted sites zone", 240,
                      1680, 5295, 2295));
    c.push_back(Heading("Frame4", "lbsetting", L"Setting", 240, 975, Align::Left));
    c.push_back(Heading("Frame4", "lbuser2", L"USER", 3360, 615, Align::Centre));
    c.push_back(Heading("Frame4", "lbmachine2", L"MACHINE", 4200, 855, Align::Centre));
    static constexpr int kSettingWidths[] = {1335, 2175, 2655, 2775};
    static constexpr int kSettingHeights[] = {kRowHeight, kRowHeight, kRowHeight, kTallRow};
    const auto settings = ZoneSettings();
    for (std::size_t i = 0; i < settings.size(); ++i) {
        const ZoneSetting& z = settings[i];
        c.push_back(Fixed("Frame4", z.caption_label, std::wstring(z.caption), 240, RowTop(i),
                          kSettingWidths[i], kSettingHeights[i]));
        c.push_back(Status("Frame4", z.user.label, 3240, RowTop(i), 795));
        c.push_back(Status("Frame4", z.machine.label, 4200, RowTop(i), 795));
    }

    c.push_back(Frame("Frame5", L"Pop-up Blocker Setting", 240, 4200, 5295, 2295));
    c.push_back(Heading("Frame5", "Label2", L"Allowed Sites", 240, 1695, Align::Left));
    c.push_back(Heading("Frame5", "Label3", L"Setting", 3720, 1020, Align::Centre));
    static constexpr int kPopupWidths[] = {1815, 1575, 1815, 2055};
    const auto popups = PopupSites();
    for (std::size_t i = 0; i < popups.size(); ++i) {
        c.push_back(Fixed("Frame5", popups[i].caption_label, std::wstring(popups[i].host), 240,
                          RowTop(i), kPopupWidths[i]));
        c.push_back(Status("Frame5", popups[i].row.label, 3720, RowTop(i), 1020));
    }
    return c;
}

}  // namespace

std::span<const Control> WindowLayout() {
    static const std::vector<Control> layout = BuildLayout();
    return layout;
}

int TwipsToPixels(int twips, int dpi) {
    // Same rounding as MulDiv: to nearest, halves away from zero.
    const long long product = static_cast<long long>(twips) * dpi;
    const long long half = kTwipsPerInch / 2;
    return static_cast<int>(product >= 0 ? (product + half) / kTwipsPerInch
                                         : -((-product + half) / kTwipsPerInch));
}

}  // namespace qtk
