// Starting programs the way a desktop's "open" action does.
#pragma once

#include <string_view>

namespace quern::platform {

// Starts the file (engine path) detached, without waiting, in the caller's current directory.
// A native program (ELF) or a "#!" script is started directly, its owner execute bit added when
// files unpacked from an archive arrived without one; a Windows program ("MZ") or any other
// file is handed to xdg-open, so that a configured handler opens it. A missing file starts
// nothing. False when nothing could be started; callers that follow the desktop's rules ignore
// the answer.
bool ShellOpen(std::string_view file);

}  // namespace quern::platform
