// Texts from a file made safe to print: names, versions and history texts can hold any
// bytes. The tag separator 0x1E of array names is shown as "<RS>"; every other control
// byte (0x00-0x1F, 0x7F), every byte that is not part of a well-formed UTF-8 character,
// and the bytes of the C1 controls (U+0080-U+009F) and of the bidirectional formatting
// characters (U+202A-U+202E, U+2066-U+2069) are shown as "\xNN"; a backslash is shown as
// "\\" and a double quote as "\"". The result is always well-formed UTF-8.
#pragma once

#include <string>

namespace Kiv::Util {

std::string DisplayText(const std::string& raw);
// DisplayText in double quotes.
std::string Quoted(const std::string& raw);

}  // namespace Kiv::Util
