// The window's layout table and the check tables, checked against each other and against
// the geometry the window must keep.
#include "app/layout.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "checks/tables.h"

namespace qtk {
namespace {

const Control* Find(std::string_view name) {
    for (const Control& c : WindowLayout()) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

bool EndsWith(std::wstring_view text, std::wstring_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// ---- geometry ------------------------------------------------------------------------

TEST(LayoutTest, ControlsFitTheirContainersWithoutFramesOverlapping) {
    std::vector<const Control*> frames;
    std::set<std::string> names;
    int labels = 0;
    int status_labels = 0;
    for (const Control& c : WindowLayout()) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(names.insert(c.name).second) << "duplicate name";
        if (c.kind == ControlKind::Frame) {
            EXPECT_TRUE(c.parent.empty());
            EXPECT_GE(c.left, 0);
            EXPECT_GE(c.top, 0);
            EXPECT_LE(c.left + c.width, kClientWidthTwips);
            EXPECT_LE(c.top + c.height, kClientHeightTwips);
            frames.push_back(&c);
            continue;
        }
        ++labels;
        if (c.kind == ControlKind::StatusLabel) ++status_labels;
        const Control* frame = Find(c.parent);
        ASSERT_NE(frame, nullptr) << "parent " << c.parent;
        EXPECT_EQ(frame->kind, ControlKind::Frame);
        EXPECT_GE(c.left, 0);
        EXPECT_GE(c.top, 0);
        EXPECT_LE(c.left + c.width, frame->width);
        EXPECT_LE(c.top + c.height, frame->height);
    }
    EXPECT_EQ(frames.size(), 5u);
    EXPECT_EQ(labels, 68);
    EXPECT_EQ(status_labels, 38);

    for (std::size_t i = 0; i < frames.size(); ++i) {
        for (std::size_t j = i + 1; j < frames.size(); ++j) {
            const Control& a = *frames[i];
            const Control& b = *frames[j];
            const bool overlap = a.left < b.left + b.width && b.left < a.left + a.width &&
                                 a.top < b.top + b.height && b.top < a.top + a.height;
            EXPECT_FALSE(overlap) << a.name << " and " << b.name;
        }
    }
}

TEST(LayoutTest, EveryMeasureIsWholePixelsAt96Dpi) {
    std::vector<std::pair<std::string, int>> measures{{"client width", kClientWidthTwips},
                                                      {"client height", kClientHeightTwips}};
    for (const Control& c : WindowLayout()) {
        measures.emplace_back(c.name + " left", c.left);
        measures.emplace_back(c.name + " top", c.top);
        measures.emplace_back(c.name + " width", c.width);
        measures.emplace_back(c.name + " height", c.height);
    }
    for (const auto& [what, twips] : measures) {
        SCOPED_TRACE(what);
        EXPECT_EQ(twips % 15, 0);
        const int pixels = twips / 15;
        EXPECT_EQ(TwipsToPixels(twips, 96), pixels);
        // One and a half times, an odd pixel count rounding its half up.
        EXPECT_EQ(TwipsToPixels(twips, 144), (3 * pixels + 1) / 2);
    }
}

TEST(LayoutTest, TwipsRoundToNearestPixelLikeMulDiv) {
    struct Case {
        int twips, dpi, pixels;
    };
    // 5 twips at 144 DPI is exactly half a pixel; halves go away from zero.
    const Case cases[] = {{4, 144, 0}, {5, 144, 1}, {-5, 144, -1}, {7, 96, 0}, {8, 96, 1},
                          {-8, 96, -1}, {1440, 120, 120}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.twips) + " twips at " + std::to_string(c.dpi));
        EXPECT_EQ(TwipsToPixels(c.twips, c.dpi), c.pixels);
    }
}

// ---- site captions -------------------------------------------------------------------

struct SiteCaption {
    std::wstring scheme;
    bool wildcard = false;
    std::wstring host;  // the exact host, or the domain under the wildcard
};

SiteCaption ParseSite(std::wstring_view caption) {
    SiteCaption site;
    const auto colon = caption.find(L"://");
    if (colon == std::wstring_view::npos) {
        site.host = caption;
        return site;
    }
    site.scheme = caption.substr(0, colon);
    std::wstring_view rest = caption.substr(colon + 3);
    site.wildcard = rest.starts_with(L"*.");
    site.host = site.wildcard ? rest.substr(2) : rest;
    return site;
}

TEST(LayoutTest, SiteCaptionsKeepTheirShapesAndEqualities) {
    enum Where { Quorin, Inside, Outside };
    struct Row {
        const char* label;
        const wchar_t* scheme;
        bool wildcard;
        Where where;
    };
    const Row rows[] = {
        {"lbteskquorin", L"https", false, Inside}, {"lbhalvekgo", L"https", true, Outside},
        {"lbhalvekor", L"https", true, Outside},   {"lbhalvekquorin", L"https", true, Inside},
        {"lbquorin", L"https", true, Quorin},      {"lbdroskgo", L"https", true, Outside},
        {"lbpelund", L"https", true, Outside},     {"lbkessor", L"https", false, Inside},
        {"lbsandrel", L"https", false, Inside},    {"lbtelmirainter", L"https", false, Inside},
        {"lbomvar", L"http", true, Outside},
    };
    std::map<std::string, SiteCaption> sites;
    for (const Row& r : rows) {
        const Control* c = Find(r.label);
        ASSERT_NE(c, nullptr) << r.label;
        EXPECT_EQ(c->parent, "Frame2") << r.label;
        sites[r.label] = ParseSite(c->caption);
    }
    const std::wstring quorin = sites["lbquorin"].host;
    const std::wstring inside_quorin = L"." + quorin;

    std::set<std::wstring> outside_domains;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        const SiteCaption& site = sites[r.label];
        EXPECT_EQ(site.scheme, r.scheme);
        EXPECT_EQ(site.wildcard, r.wildcard);
        EXPECT_TRUE(EndsWith(site.host, L".example"));
        const bool inside = EndsWith(site.host, inside_quorin);
        EXPECT_EQ(inside, r.where == Inside);
        if (r.where == Outside) {
            EXPECT_NE(site.host, quorin);
            EXPECT_TRUE(outside_domains.insert(site.host).second) << "domain shared";
        }
    }

    // The pop-up frame names bare hosts inside the same domain, three of them the very
    // hosts the trusted-sites frame shows.
    struct PopupRow {
        const char* label;
        const char* same_as;  // null: a host of its own
    };
    const PopupRow popups[] = {{"lbptesk", "lbteskquorin"},
                               {"lbpbrimmel", nullptr},
                               {"lbpkessor", "lbkessor"},
                               {"lbptelmira", "lbtelmirainter"}};
    for (const PopupRow& p : popups) {
        SCOPED_TRACE(p.label);
        const Control* c = Find(p.label);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->parent, "Frame5");
        const SiteCaption site = ParseSite(c->caption);
        EXPECT_TRUE(site.scheme.empty());
        EXPECT_EQ(site.host.find_first_of(L"*/:"), std::wstring::npos);
        EXPECT_TRUE(EndsWith(site.host, inside_quorin));
        if (p.same_as) {
            EXPECT_EQ(site.host, sites[p.same_as].host);
        } else {
            for (const auto& [name, other] : sites) EXPECT_NE(site.host, other.host) << name;
        }
    }
}

// ---- check tables against the layout ------------------------------------------------

TEST(CheckTablesTest, RowsCoverEveryStatusLabelOnceWithDistinctMarkers) {
    struct GroupFrame {
        const CheckGroup* group;
        const char* frame;
    };
    // The check order, which the companion walks too.
    const GroupFrame groups[] = {{&Group(GroupId::TrustedSitesUser), "Frame2"},
                                 {&Group(GroupId::TrustedSitesMachine), "Frame2"},
                                 {&Group(GroupId::SoftwareInstall), "Frame3"},
                                 {&Group(GroupId::ZoneScriptingUser), "Frame4"},
                                 {&Group(GroupId::ZoneScriptingMachine), "Frame4"},
                                 {&Group(GroupId::PopupAllowedSites), "Frame5"}};
    ASSERT_EQ(CheckGroups().size(), std::size(groups));
    for (std::size_t i = 0; i < std::size(groups); ++i) {
        EXPECT_EQ(&CheckGroups()[i], groups[i].group) << "group " << i << " out of order";
    }
    std::map<std::string, int, std::less<>> painted;
    std::set<std::wstring_view> markers;
    std::size_t rows = 0;
    for (const GroupFrame& g : groups) {
        for (const CheckRow& row : g.group->rows) {
            SCOPED_TRACE(std::string(g.group->name) + " " + std::string(row.label));
            ++rows;
            const Control* label = Find(row.label);
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->kind, ControlKind::StatusLabel);
            EXPECT_EQ(label->parent, g.frame);
            ++painted[std::string(row.label)];

            EXPECT_EQ(MarkerPath(row), L"C:\\tmptk\\" + std::wstring(row.file));
            EXPECT_FALSE(row.file.empty());
            EXPECT_EQ(row.file.find_first_of(L"\\/:"), std::wstring_view::npos);
            EXPECT_TRUE(markers.insert(row.file).second) << "marker used twice";
        }
    }
    EXPECT_EQ(rows, 36u);

    for (const Control& c : WindowLayout()) {
        if (c.kind != ControlKind::StatusLabel) continue;
        // The identity labels belong to the identity step alone.
        const bool identity = c.name == "comname" || c.name == "os";
        EXPECT_EQ(painted[c.name], identity ? 0 : 1) << c.name;
    }
}

}  // namespace
}  // namespace qtk
