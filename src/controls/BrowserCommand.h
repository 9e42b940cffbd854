#pragma once
// The fallback that opens a link with the default web browser when the desktop's own
// opener (xdg-open behind QDesktopServices) fails: the browser's desktop entry gives the
// command, and the link takes the place of its file/URL placeholder.

#include <QString>
#include <QStringList>

// Builds the command that opens `target` from a desktop entry's Exec line, as the program and
// its arguments: the line's words (platform::SplitExec) as far as the first one holding a
// placeholder ("%u", "%U", "%f", "%F"; a word written '%u' in single quotes is one too), whose
// placeholder and what follows it give way to the target; the words after it are dropped.
// Without any placeholder the target follows the last word. The target is one argument,
// whatever it holds. A "%%" is a percent sign, not a placeholder. The command, its words
// joined by blanks, must fit with a terminator in `capacity` characters; a command that would
// not fit is returned empty, because a truncated command would run the wrong thing; so is the
// command for an empty Exec line.
// The program never starts a browser command longer than 519 characters: a link that makes
// it longer is refused rather than cut.
constexpr int kBrowserCommandCapacity = 520;
QStringList BuildBrowserCommand(const QString& execLine, const QString& target,
                                int capacity = kBrowserCommandCapacity);

// The Exec value of the [Desktop Entry] group of the desktop entry file at `path`;
// empty when the file cannot be read or has no such key.
QString ReadDesktopEntryExec(const QString& path);

// The Exec line of the default browser: `xdg-mime query default text/html` names its
// desktop entry, looked up in the applications directories. Empty when any step fails.
QString DefaultBrowserExec();
