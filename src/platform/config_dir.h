// The program's settings folder: $XDG_CONFIG_HOME/korvane, or
// $HOME/.config/korvane when XDG_CONFIG_HOME is unset, empty or relative.
#pragma once

#include <cstdint>

// The folder's path without a trailing '/'; with `create` non-zero the
// folder (and its parents) are made when missing. The text belongs to the
// calling thread and holds until its next call; empty when no home folder is
// known or (with `create`) the folder cannot be made.
const wchar_t* FgGetConfigDir(int32_t create);
