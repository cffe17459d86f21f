// Parses a site list with the system's XML reader, XmlLite (xmllite.dll, loaded from System32
// at run time), feeding its events to the portable SiteListBuilder. DTDs are refused, so a
// list cannot pull in other files or expand entities without bound.
#pragma once

#include "companion/ie_mode.h"

namespace qtk::companion::win32 {

class XmlLiteSiteListParser : public SiteListParser {
public:
    ParsedList Parse(const std::string& bytes) override;
};

}  // namespace qtk::companion::win32
