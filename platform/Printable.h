#pragma once

// A name or a message as it may reach a terminal or a log. Names come from
// files and packs that anyone can make, and a control byte in one (an escape
// sequence that retitles the window or clears the screen, a carriage return
// that hides what came before) would be obeyed, not shown.

#include <string>
#include <string_view>

namespace caldera {

// `text` with every control byte (0x00-0x1F, 0x7F), every C1 control
// (U+0080-U+009F) and every byte that is not part of valid UTF-8 shown as
// \xNN; other text, non-ASCII letters included, is kept as it is.
std::string Printable(std::string_view text);

}  // namespace caldera
