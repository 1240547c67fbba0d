#pragma once

#include <string>

namespace loomwatch::core {

// The folders Loomwatch reads and writes. Every path is absolute.
struct Paths
{
    // Below it: the agents' own data (".claude/projects", ".codex/sessions", ".local/share/opencode").
    std::string home;
    // $XDG_CONFIG_HOME: the settings file and the autostart entry.
    std::string configDirectory;
    // Loomwatch's own data: the editable resources and the history.
    std::string dataDirectory;
    // Cursor's per-user folder.
    std::string cursorDirectory;
    // $XDG_CACHE_HOME/Loomwatch: what can be made again from the agents' files (the usage ledger).
    std::string cacheDirectory;

    std::string settingsFile() const { return configDirectory + "/Loomwatch/Loomwatch.conf"; }
    std::string historyFile() const { return dataDirectory + "/history.sqlite"; }
    std::string usageLedgerFile() const { return cacheDirectory + "/usage.sqlite"; }
    std::string claudeProjects() const { return home + "/.claude/projects"; }
    std::string codexSessions() const { return home + "/.codex/sessions"; }

    // From $HOME (else the password database) and the XDG base-directory variables, which count only
    // when they hold absolute paths.
    static Paths forCurrentUser();
};

// $HOME, else the password database entry of the current user; empty when neither is known.
std::string homeDirectory();

} // namespace loomwatch::core
