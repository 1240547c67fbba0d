#pragma once

#include <QString>

#include <stdexcept>

namespace loomwatch::ui {

// What() is the text shown under the settings' Tools tab.
class AutostartError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Starting Loomwatch at login through the XDG autostart folder ($XDG_CONFIG_HOME/autostart).
class AutostartEntry
{
public:
    // `folder`: the autostart folder; `executable`: what the entry starts.
    AutostartEntry(QString folder, QString executable);
    // The autostart folder below `configDirectory`, starting this very executable.
    static AutostartEntry forThisExecutable(const QString& configDirectory);

    QString filePath() const;
    // The entry exists and is not switched off with Hidden=true.
    bool isEnabled() const;
    // Writes the entry (atomically) or removes it. Throws AutostartError.
    void setEnabled(bool enabled) const;

    QString desktopEntryText() const;

private:
    QString m_folder;
    QString m_executable;
};

} // namespace loomwatch::ui
