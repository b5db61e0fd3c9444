// The small console services of the launcher: window title and keyboard state.
#pragma once

#include <string>

namespace Quorvale {

// Sets the title of the console window. On POSIX: the terminal's title sequence, written only
// when standard output is a terminal; control characters in `title` are dropped so that the
// text cannot smuggle other terminal sequences.
void set_console_title(const std::string& title);

// True while the Control key is held down. A POSIX terminal cannot tell, so this is false.
bool control_key_held();

}  // namespace Quorvale
