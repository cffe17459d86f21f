// Whether the Internet Explorer 11 feature IE mode needs is in place: its program under the
// Program Files folder (see rule 1 in companion/ie_mode.h). The file is looked for rather
// than the servicing stack asked (DISM, or WMI's Win32_OptionalFeature), which is slow and,
// through DISM, needs an administrator.
// Wine installs a program of its own at C:\Program Files\Internet Explorer\iexplore.exe in
// every prefix, as Windows does with the feature, so under Wine the feature reads as in
// place unless that file has been taken away.
#pragma once

#include "companion/ie_mode.h"

namespace qtk::companion::win32 {

class Win32Ie11Feature : public Ie11FeatureProbe {
public:
    Ie11Feature Look() override;
};

}  // namespace qtk::companion::win32
