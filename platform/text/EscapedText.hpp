// Bytes from outside (an argument, an identifier) written so that they stay one
// item on one line and the original bytes can be read back:
//   a double quote  ->  \"      a backslash  ->  \\ (two backslashes)
//   NUL, TAB, LF, CR  ->  \0 \t \n \r
//   any other C0 control, DEL, the C1 controls U+0080..U+009F and the line and
//   paragraph separators U+2028, U+2029  ->  \u{X} (hex code point, no padding)
//   a byte that is not part of well-formed UTF-8  ->  \x{HH}
// Every other character, ASCII or not, is copied as its UTF-8 bytes. The
// launcher's argument report and the stand-in's control tool write them alike.
#pragma once

#include <string>
#include <string_view>

namespace platform::text {

void appendEscaped(std::string& out, std::string_view bytes);

// The bytes escaped and in double quotes.
std::string quoted(std::string_view bytes);

// Whether the bytes are well-formed UTF-8 throughout.
bool isWellFormedUtf8(std::string_view bytes);

}  // namespace platform::text
