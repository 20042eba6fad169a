#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Finds the desktop's default web browser the way the desktop itself does: the default
// application for web addresses in the mimeapps.list files (user's first, then the system's),
// and the command line of its desktop entry. Window thread; reads files only.
namespace DefaultBrowser {

// The Exec line of the default browser's desktop entry, or nothing when there is none.
std::optional<QString> Command();

// The first desktop id listed for mimeType in the [Default Applications] group of a
// mimeapps.list text; empty when none.
QStringList DefaultHandlers(const QString& mimeappsText, const QString& mimeType);
// The Exec value of the [Desktop Entry] group of a desktop entry's text, or nothing.
std::optional<QString> DesktopExec(const QString& desktopEntryText);

}  // namespace DefaultBrowser
