#pragma once

#include <string>

namespace loomwatch::core {

// $HOME, else the password database entry of the current user; empty when neither is known.
std::string homeDirectory();
// $XDG_CONFIG_HOME when it is an absolute path, else home + "/.config".
std::string configDirectory();
// Loomwatch's own per-user data folder (resource working copies, history):
// $XDG_DATA_HOME/Loomwatch when XDG_DATA_HOME is absolute, else home + "/.local/share/Loomwatch".
std::string dataDirectory();
// dataDirectory() + "/history.sqlite".
std::string historyPath();
// Cursor's per-user folder: configDirectory() + "/Cursor".
std::string cursorDirectory();

} // namespace loomwatch::core
