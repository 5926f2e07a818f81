// Date and time pictures of the Windows locale data in the program's picture
// letters (DateTimeText.h).
#pragma once

#include <string>
#include <string_view>

namespace pelmbus {

// "dd.MM.yyyy" and "H:mm:ss" stay as they are; "h:mm:ss tt" becomes
// "h:mm:ss AP"; a one-digit year "y" becomes "yy", "yyy" and "yyyyy"
// "yyyy"; the era (g, gg) is left out.
std::string PictureFromWindows(std::string_view picture);

} // namespace pelmbus
