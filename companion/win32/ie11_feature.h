// Whether the Internet Explorer 11 feature IE mode needs is in place: its program under the
// Program Files folder (see rule 1 in companion/ie_mode.h).
#pragma once

#include "companion/ie_mode.h"

namespace qtk::companion::win32 {

class Win32Ie11Feature : public Ie11FeatureProbe {
public:
    Ie11Feature Look() override;
};

}  // namespace qtk::companion::win32
