#pragma once
// The folder of this user's Tessarin files on systems without a registry:
// ${XDG_CONFIG_HOME:-$HOME/.config}/tessarin. Only an absolute XDG_CONFIG_HOME counts,
// as the base-directory rules require; without a usable HOME the user database is
// asked. "" when no folder can be named. Any thread. (Windows keeps its settings in the
// registry and names its ports itself, so it has no such folder.)

#include <string>

std::string TessarinConfigFolder();
