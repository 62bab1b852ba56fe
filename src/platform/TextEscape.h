#pragma once

#include <string>
#include <string_view>

namespace plat {

// Text that came from a peer (a node name, a file name), made safe to show on the status line or
// write to a terminal: every control character (C0, DEL and the C1 controls) and every Unicode
// bidirectional override or isolate is written as an escape ("\x1b", "\u202e"), so a name can
// neither move the cursor, start a new line, nor turn the text around it. Bytes that are not
// valid UTF-8 are escaped as "\xNN" too. Everything else is unchanged, so escaping twice changes
// nothing more.
std::string escapeControls(std::string_view text);

} // namespace plat
