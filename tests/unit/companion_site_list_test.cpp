// The Enterprise Mode Site List: how the reader's events become a list, and which entry
// decides for a site, each case from a rule of Microsoft's schema guidance.
#include "companion/site_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qtk::companion {
namespace {

// A document as a tree, walked into the events an XML reader reports.
struct Node {
    std::wstring name;
    XmlAttributes attributes;
    std::wstring text;  // before the children
    std::vector<Node> children;
};

void Walk(SiteListBuilder& builder, const Node& node) {
    builder.StartElement(node.name, node.attributes);
    if (!node.text.empty()) builder.Text(node.text);
    for (const Node& child : node.children) Walk(builder, child);
    builder.EndElement();
}

SiteList Build(const Node& root) {
    SiteListBuilder builder;
    Walk(builder, root);
    std::wstring problem;
    std::optional<SiteList> list = builder.Finish(&problem);
    EXPECT_TRUE(list.has_value()) << std::string(problem.begin(), problem.end());
    return list ? *list : SiteList{};
}

Node Site(std::wstring url, std::wstring open_in, XmlAttributes open_in_attributes = {}) {
    Node site{L"site", {{L"url", std::move(url)}}, L"\n  ", {}};
    site.children.push_back({L"compat-mode", {}, L"default", {}});
    if (!open_in.empty() || !open_in_attributes.empty()) {
        site.children.push_back({L"open-in", std::move(open_in_attributes), open_in, {}});
    }
    return site;
}

Node V2(std::vector<Node> sites) {
    return Node{L"site-list", {{L"version", L"205"}}, L"", std::move(sites)};
}

Node Domain(std::wstring name, XmlAttributes attributes = {}, std::vector<Node> paths = {}) {
    return Node{L"domain", std::move(attributes), L"\n  " + name + L"\n  ", std::move(paths)};
}

Node Path(std::wstring path, XmlAttributes attributes = {}, std::vector<Node> inner = {}) {
    return Node{L"path", std::move(attributes), std::move(path), std::move(inner)};
}

Node V1(std::vector<Node> emie, std::vector<Node> doc_mode = {}) {
    return Node{L"rules",
                {{L"version", L"1"}},
                L"",
                {Node{L"emie", {}, L"", std::move(emie)},
                 Node{L"docMode", {}, L"", std::move(doc_mode)}}};
}

struct DecideCase {
    const char* label;
    Node document;
    const wchar_t* scheme;
    const wchar_t* host;
    const wchar_t* path;
    bool ie_mode;
    bool listed;
    const wchar_t* entry;  // the deciding entry, when listed
};

void PrintTo(const DecideCase& c, std::ostream* os) { *os << c.label; }

class SiteListDecides : public ::testing::TestWithParam<DecideCase> {};

TEST_P(SiteListDecides, TheDocumentedEntryDecides) {
    const DecideCase& c = GetParam();
    const SiteList list = Build(c.document);
    const SiteListDecision decision = DecideSite(list, c.scheme, c.host, c.path);
    EXPECT_EQ(decision.ie_mode, c.ie_mode) << std::string(decision.why.begin(), decision.why.end());
    EXPECT_EQ(decision.listed, c.listed);
    if (c.listed) {
        EXPECT_EQ(decision.entry, c.entry);
    }
}

const DecideCase kV2Cases[] = {
    {"open-in IE11 opens in IE mode", V2({Site(L"tesk.qrn.example", L"IE11")}), L"https",
     L"tesk.qrn.example", L"/", true, true, L"tesk.qrn.example"},
    {"a domain covers its hosts", V2({Site(L"qrn.example", L"IE11")}), L"https",
     L"kessor.qrn.example", L"/", true, true, L"qrn.example"},
    {"a domain is not a longer name that ends like it", V2({Site(L"qrn.example", L"IE11")}),
     L"https", L"xqrn.example", L"/", false, false, L""},
    {"the most specific domain decides",
     V2({Site(L"qrn.example", L"IE11"), Site(L"tesk.qrn.example", L"MSEdge")}), L"https",
     L"tesk.qrn.example", L"/", false, true, L"tesk.qrn.example"},
    {"its sibling keeps the domain's",
     V2({Site(L"qrn.example", L"IE11"), Site(L"tesk.qrn.example", L"MSEdge")}), L"https",
     L"kessor.qrn.example", L"/", true, true, L"qrn.example"},
    {"no protocol: http too", V2({Site(L"omvar.example", L"IE11")}), L"http",
     L"www.omvar.example", L"/", true, true, L"omvar.example"},
    {"open-in MSEdge stays in Edge", V2({Site(L"tesk.qrn.example", L"MSEdge")}), L"https",
     L"tesk.qrn.example", L"/", false, true, L"tesk.qrn.example"},
    {"open-in None is a neutral site", V2({Site(L"tesk.qrn.example", L"None")}), L"https",
     L"tesk.qrn.example", L"/", false, true, L"tesk.qrn.example"},
    {"no open-in at all is neutral", V2({Site(L"tesk.qrn.example", L"")}), L"https",
     L"tesk.qrn.example", L"/", false, true, L"tesk.qrn.example"},
    {"values are read without regard to case", V2({Site(L"TESK.qrn.example", L"ie11")}),
     L"https", L"tesk.QRN.example", L"/", true, true, L"TESK.qrn.example"},
    {"app=true still leaves Edge for IE",
     V2({Site(L"tesk.qrn.example", L"IE11", {{L"app", L"true"}})}), L"https",
     L"tesk.qrn.example", L"/", true, true, L"tesk.qrn.example"},
    {"Configurable leaves it to the server", V2({Site(L"tesk.qrn.example", L"Configurable")}),
     L"https", L"tesk.qrn.example", L"/", false, true, L"tesk.qrn.example"},
    {"the first of two equal entries counts",
     V2({Site(L"tesk.qrn.example", L"IE11"), Site(L"tesk.qrn.example", L"MSEdge")}), L"https",
     L"tesk.qrn.example", L"/", true, true, L"tesk.qrn.example"},
    {"a port limits the entry to that port", V2({Site(L"tesk.qrn.example:8443", L"IE11")}),
     L"https", L"tesk.qrn.example", L"/", false, false, L""},
    {"the default port written out", V2({Site(L"tesk.qrn.example:443", L"IE11")}), L"https",
     L"tesk.qrn.example", L"/", true, true, L"tesk.qrn.example:443"},
    {"a path entry is not the site's root", V2({Site(L"tesk.qrn.example/app", L"IE11")}),
     L"https", L"tesk.qrn.example", L"/", false, false, L""},
    {"a path entry covers its sub-paths", V2({Site(L"tesk.qrn.example/app", L"IE11")}),
     L"https", L"tesk.qrn.example", L"/app/login", true, true, L"tesk.qrn.example/app"},
    {"a path entry covers no longer name that starts like it",
     V2({Site(L"tesk.qrn.example/app", L"IE11")}), L"https", L"tesk.qrn.example", L"/application",
     false, false, L""},
    {"nor a sibling beside it", V2({Site(L"tesk.qrn.example/app", L"IE11")}), L"https",
     L"tesk.qrn.example", L"/app.old/login", false, false, L""},
    {"a trailing slash ends the path there", V2({Site(L"tesk.qrn.example/app/", L"IE11")}),
     L"https", L"tesk.qrn.example", L"/app/login", false, false, L""},
    {"the longest path decides",
     V2({Site(L"tesk.qrn.example/app", L"IE11"), Site(L"tesk.qrn.example/app/admin", L"MSEdge")}),
     L"https", L"tesk.qrn.example", L"/app/admin/x", false, true, L"tesk.qrn.example/app/admin"},
    {"a path under a domain entry: the root keeps the domain's",
     V2({Site(L"qrn.example", L"IE11"), Site(L"tesk.qrn.example/app", L"MSEdge")}), L"https",
     L"tesk.qrn.example", L"/", true, true, L"qrn.example"},
    {"a protocol written in front binds the entry to it",
     V2({Site(L"https://tesk.qrn.example", L"IE11")}), L"http", L"tesk.qrn.example", L"/", false,
     false, L""},
};
INSTANTIATE_TEST_SUITE_P(SchemaV2, SiteListDecides, ::testing::ValuesIn(kV2Cases));

const DecideCase kV1Cases[] = {
    {"an <emie> domain opens in IE", V1({Domain(L"qrn.example")}), L"https", L"tesk.qrn.example",
     L"/", true, true, L"qrn.example"},
    {"exclude takes it out", V1({Domain(L"qrn.example", {{L"exclude", L"true"}})}), L"https",
     L"qrn.example", L"/", false, true, L"qrn.example"},
    {"exclude=false keeps it", V1({Domain(L"qrn.example", {{L"exclude", L"false"}})}), L"https",
     L"qrn.example", L"/", true, true, L"qrn.example"},
    {"an included path under an excluded domain",
     V1({Domain(L"qrn.example", {{L"exclude", L"true"}}, {Path(L"/about", {{L"exclude", L"false"}})})}),
     L"https", L"qrn.example", L"/about/team", true, true, L"qrn.example/about"},
    {"and the domain's root stays out",
     V1({Domain(L"qrn.example", {{L"exclude", L"true"}}, {Path(L"/about", {{L"exclude", L"false"}})})}),
     L"https", L"qrn.example", L"/", false, true, L"qrn.example"},
    {"a path inside a path is ignored",
     V1({Domain(L"qrn.example",
                {{L"exclude", L"true"}},
                {Path(L"/about", {}, {Path(L"/business", {{L"exclude", L"true"}})})})}),
     L"https", L"qrn.example", L"/about/business", true, true, L"qrn.example/about"},
    {"a path covers no longer name that starts like it",
     V1({Domain(L"qrn.example", {{L"exclude", L"true"}}, {Path(L"/about", {{L"exclude", L"false"}})})}),
     L"https", L"qrn.example", L"/aboutus", false, true, L"qrn.example"},
    {"a trailing slash ends the path",
     V1({Domain(L"qrn.example", {{L"exclude", L"true"}}, {Path(L"/about/", {{L"exclude", L"false"}})})}),
     L"https", L"qrn.example", L"/about/careers", false, true, L"qrn.example"},
    {"a <docMode> domain with a mode opens in IE", V1({}, {Domain(L"qrn.example", {{L"docMode", L"7"}})}),
     L"https", L"tesk.qrn.example", L"/", true, true, L"qrn.example"},
    {"a <docMode> domain that names no mode applies nothing",
     V1({}, {Domain(L"qrn.example", {}, {Path(L"/travel", {{L"docMode", L"7"}})})}), L"https",
     L"qrn.example", L"/", false, false, L""},
    {"but its path with a mode does",
     V1({}, {Domain(L"qrn.example", {}, {Path(L"/travel", {{L"docMode", L"7"}})})}), L"https",
     L"qrn.example", L"/travel", true, true, L"qrn.example/travel"},
    {"the same domain in both sections: <emie> applies",
     V1({Domain(L"qrn.example", {{L"exclude", L"true"}})},
        {Domain(L"qrn.example", {{L"docMode", L"5"}})}),
     L"https", L"qrn.example", L"/", false, true, L"qrn.example"},
    {"a more specific sub-domain decides",
     V1({}, {Domain(L"qrn.example", {{L"docMode", L"5"}}),
             Domain(L"tesk.qrn.example", {{L"docMode", L"9"}})}),
     L"https", L"tesk.qrn.example", L"/", true, true, L"tesk.qrn.example"},
    {"an excluded host under an included domain",
     V1({Domain(L"qrn.example"), Domain(L"tesk.qrn.example", {{L"exclude", L"true"}})}), L"https",
     L"tesk.qrn.example", L"/", false, true, L"tesk.qrn.example"},
    {"the first of two equal domains counts",
     V1({Domain(L"qrn.example", {{L"exclude", L"true"}}), Domain(L"qrn.example")}), L"https",
     L"qrn.example", L"/", false, true, L"qrn.example"},
    {"no protocol: http too", V1({Domain(L"omvar.example")}), L"http", L"www.omvar.example", L"/",
     true, true, L"omvar.example"},
    {"a port on a domain", V1({Domain(L"qrn.example:8080")}), L"https", L"qrn.example", L"/", false,
     false, L""},
};
INSTANTIATE_TEST_SUITE_P(SchemaV1, SiteListDecides, ::testing::ValuesIn(kV1Cases));

TEST(SiteListBuilder, ReadsTheSchemaAndSkipsWhatItDoesNotKnow) {
    Node document = V2({Site(L"  tesk.qrn.example ", L" IE11\n ")});
    // Elements the schema does not have, with lookalikes inside them, change nothing.
    document.children.push_back(
        Node{L"created-by", {}, L"", {Node{L"site", {{L"url", L"kessor.qrn.example"}}, L"", {}}}});
    document.children.push_back(Node{L"site", {}, L"", {Node{L"open-in", {}, L"IE11", {}}}});
    const SiteList list = Build(document);
    EXPECT_EQ(list.schema, SiteListSchema::V2);
    EXPECT_EQ(list.version, L"205");
    ASSERT_EQ(list.sites.size(), 1u) << "a site without url, or outside the root, is no entry";
    EXPECT_EQ(list.sites[0].open_in, L"IE11");
    EXPECT_TRUE(DecideSite(list, L"https", L"tesk.qrn.example").ie_mode);
    EXPECT_FALSE(DecideSite(list, L"https", L"kessor.qrn.example").listed);

    const SiteList v1 = Build(V1({Domain(L"qrn.example", {}, {Path(L" /app ")})}));
    EXPECT_EQ(v1.schema, SiteListSchema::V1);
    ASSERT_EQ(v1.emie.size(), 1u);
    EXPECT_EQ(v1.emie[0].domain, L"qrn.example") << "the text around the paths is the domain";
    ASSERT_EQ(v1.emie[0].paths.size(), 1u);
    EXPECT_EQ(v1.emie[0].paths[0].path, L"/app");
}

TEST(SiteListBuilder, RefusesADocumentThatIsNoSiteList) {
    const struct {
        const char* label;
        std::vector<Node> roots;
        const wchar_t* problem_has;
    } cases[] = {
        {"another root element", {Node{L"html", {}, L"", {}}}, L"<html>"},
        {"the root in another case", {Node{L"Site-List", {}, L"", {}}}, L"<Site-List>"},
        {"no element at all", {}, L"no root element"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SiteListBuilder builder;
        for (const Node& root : c.roots) Walk(builder, root);
        std::wstring problem;
        EXPECT_FALSE(builder.Finish(&problem).has_value());
        EXPECT_NE(problem.find(c.problem_has), std::wstring::npos)
            << std::string(problem.begin(), problem.end());
    }
}

TEST(SiteListDomains, EveryHostBelowTheDomainOrTheExceptions) {
    const struct {
        const char* label;
        Node document;
        bool any_host;
        std::vector<std::wstring> exceptions;
    } cases[] = {
        {"the domain in IE mode", V2({Site(L"qrn.example", L"IE11")}), true, {}},
        {"one host below kept in Edge",
         V2({Site(L"qrn.example", L"IE11"), Site(L"tesk.qrn.example", L"MSEdge")}), true,
         {L"tesk.qrn.example"}},
        {"only one host listed", V2({Site(L"tesk.qrn.example", L"IE11")}), false,
         {L"tesk.qrn.example"}},
        {"a host of another domain is no exception",
         V2({Site(L"qrn.example", L"IE11"), Site(L"hvk.example", L"MSEdge")}), true, {}},
        {"v.1: an excluded host under an included domain",
         V1({Domain(L"qrn.example"), Domain(L"kessor.qrn.example", {{L"exclude", L"true"}})}), true,
         {L"kessor.qrn.example"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const DomainDecision decision = DecideDomain(Build(c.document), L"https", L"qrn.example");
        EXPECT_EQ(decision.any_host.ie_mode, c.any_host);
        std::vector<std::wstring> hosts;
        for (const auto& [host, _] : decision.exceptions) hosts.push_back(host);
        EXPECT_EQ(hosts, c.exceptions);
    }
}

// "Enterprise site configuration strategy": <open-in>None</open-in> or none given makes a
// neutral site, which keeps the engine the navigation started in (how sign-on servers are
// meant to be listed); MSEdge, IE11 and Configurable are no neutral sites, and v.1 has none.
TEST(SiteListNeutral, OnlyOpenInNoneOrNotGiven) {
    const Node self_closing{L"site", {{L"url", L"login.qrn.example"}}, L"", {}};
    const struct {
        const char* label;
        Node document;
        bool neutral;
    } cases[] = {
        {"open-in None", V2({Site(L"login.qrn.example", L"None")}), true},
        {"open-in none, lower case", V2({Site(L"login.qrn.example", L"none")}), true},
        {"no open-in", V2({Site(L"login.qrn.example", L"")}), true},
        {"a self-closing site", V2({self_closing}), true},
        {"open-in MSEdge", V2({Site(L"login.qrn.example", L"MSEdge")}), false},
        {"open-in IE11", V2({Site(L"login.qrn.example", L"IE11")}), false},
        {"open-in Configurable", V2({Site(L"login.qrn.example", L"Configurable")}), false},
        {"v.1, excluded", V1({Domain(L"login.qrn.example", {{L"exclude", L"true"}})}), false},
        {"not listed at all", V2({Site(L"other.example", L"None")}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const SiteList list = Build(c.document);
        EXPECT_EQ(DecideSite(list, L"https", L"login.qrn.example").neutral, c.neutral);
        // Below a domain sent to IE11, the host is an exception either way; the flag is what
        // tells a sign-on server from a host kept out of IE mode.
        SiteList with_domain = list;
        with_domain.sites.insert(with_domain.sites.begin(), {L"qrn.example", L"IE11", false});
        const DomainDecision domain = DecideDomain(with_domain, L"https", L"qrn.example");
        const bool excepted_as_neutral =
            !domain.exceptions.empty() && domain.exceptions.front().second.neutral;
        EXPECT_EQ(excepted_as_neutral, c.neutral);
    }
}

}  // namespace
}  // namespace qtk::companion
