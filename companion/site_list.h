// The Enterprise Mode Site List that tells Microsoft Edge which sites open in Internet
// Explorer mode: what a list holds, how its entries are read from the XML reader's events,
// and which entry decides for a site.
//
// Two schemas, told apart by the root element:
// - v.2, <site-list>: one <site url="..."> per entry with an <open-in> child. "IE11" opens
//   the site in IE mode (app="true" asks for a standalone IE11 window instead); "MSEdge"
//   keeps it in Edge; "None", an empty or a missing <open-in> (and the self-closing
//   <site url="..."/>) make a neutral site that stays in whichever engine the navigation
//   started in, so it is no IE-mode site of its own; "Configurable" lets the server decide.
// - v.1, <rules>: <domain> entries, with <path> children, in an <emie> section (Enterprise
//   Mode) and a <docMode> section (a document mode per entry). exclude="true" takes a
//   domain or path out; a <docMode> entry applies only where it names a docMode. When both
//   sections name the same domain, the <emie> one applies. A <path> inside a <path> is
//   ignored. Read here only to say which sites such a list would send to IE11: Edge's IE
//   mode does not support v.1 lists (see ie_mode.h).
// Shared by both:
// - an entry is written without a protocol and applies to http and https; a port, when
//   given, limits it to that port;
// - a domain covers its own hosts below it, and the most specific domain decides
//   ("contoso.com" and "info.contoso.com": test.contoso.com follows the first);
// - a path covers the sub-paths below it, unless it ends in "/", which ends it there; the
//   longest matching path decides, the domain's own entry where none matches;
// - of two entries naming the same thing, the first one counts.
//
// Sources:
// - "Enterprise Mode schema v.2 guidance",
//   https://learn.microsoft.com/en-us/internet-explorer/ie11-deploy-guide/enterprise-mode-schema-version-2-guidance
// - "Enterprise Mode schema v.1 guidance",
//   https://learn.microsoft.com/en-us/internet-explorer/ie11-deploy-guide/enterprise-mode-schema-version-1-guidance
//   (sub-domains, nested paths, trailing slashes, exclude, emie before docMode);
// - "Enterprise site configuration strategy" and "Configure IE mode policies",
//   https://learn.microsoft.com/en-us/deployedge/edge-ie-mode-sitelist and
//   https://learn.microsoft.com/en-us/deployedge/edge-ie-mode-policies ("All sites that
//   have the element <open-in>IE11</open-in> will now open in IE mode"; neutral sites;
//   v.1 not supported for IE mode integration).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qtk::companion {

enum class SiteListSchema { V1, V2 };

struct SiteListPath {
    std::wstring path;  // as written, trimmed
    bool exclude = false;
    std::optional<std::wstring> doc_mode;
};

struct SiteListDomain {
    std::wstring domain;  // as written, trimmed
    bool exclude = false;
    std::optional<std::wstring> doc_mode;
    std::vector<SiteListPath> paths;
};

struct SiteListSite {
    std::wstring url;      // as written
    std::wstring open_in;  // trimmed; empty when not given
    bool app = false;      // <open-in app="true">
};

struct SiteList {
    SiteListSchema schema = SiteListSchema::V2;
    std::wstring version;                // the root's version attribute
    std::vector<SiteListSite> sites;     // v.2
    std::vector<SiteListDomain> emie;    // v.1 <emie>
    std::vector<SiteListDomain> doc_mode;  // v.1 <docMode>
};

using XmlAttributes = std::vector<std::pair<std::wstring, std::wstring>>;

// Turns the element and text events of a well-formed document into a SiteList. The XML
// reader drives it: StartElement for each element (then EndElement at once for an empty
// one), Text for text and CDATA. Elements that are not part of the schema are skipped
// with everything inside them.
class SiteListBuilder {
public:
    void StartElement(std::wstring_view name, const XmlAttributes& attributes);
    void Text(std::wstring_view text);
    void EndElement();

    // After the reader reached the end without error: the list, or why the document is
    // no site list (another root element, say).
    std::optional<SiteList> Finish(std::wstring* problem);

private:
    enum class Kind { Root, Section, Domain, Path, Site, OpenIn, Other };
    std::vector<Kind> open_;
    std::optional<SiteList> list_;
    std::wstring root_;
    std::vector<SiteListDomain>* section_ = nullptr;
};

// What the list says about one site: does it open in IE mode, and which entry says so.
struct SiteListDecision {
    bool ie_mode = false;
    bool listed = false;    // some entry decided; false: the list does not name the site
    bool neutral = false;   // v.2 open-in None or not given: stays in the engine it started in
    std::wstring entry;     // the deciding entry as written, "qrn.example/app" and the like
    std::wstring why;       // "open-in IE11", "open-in MSEdge", "excluded in <emie>", ...
};

// scheme "http" or "https", host in any case, path starting with "/".
SiteListDecision DecideSite(const SiteList& list, std::wstring_view scheme, std::wstring_view host,
                            std::wstring_view path = L"/");

// Every host strictly below `domain` at its root: decided for a host no entry names, then
// each host below the domain that an entry names and that decides otherwise.
struct DomainDecision {
    SiteListDecision any_host;
    std::vector<std::pair<std::wstring, SiteListDecision>> exceptions;  // host, decision
};
DomainDecision DecideDomain(const SiteList& list, std::wstring_view scheme,
                            std::wstring_view domain);

}  // namespace qtk::companion
