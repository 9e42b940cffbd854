#pragma once
// The fallback that opens a link with the default web browser when the desktop's own
// opener (xdg-open behind QDesktopServices) fails: the browser's desktop entry gives the
// command, and the link takes the place of its file/URL placeholder.

#include <QString>

// Builds the command that opens `target` from a desktop entry's Exec line: the line is cut
// at its first quoted placeholder ("%u", "%U", "%f", "%F", in double or single quotes) or,
// when there is none, at its first bare one (a "%%" is a literal percent sign, not a
// placeholder); without any placeholder the whole line is kept. One blank and the target
// follow. The result must fit, with a terminator, in `capacity` characters; a command that
// would not fit is returned empty, because a truncated command would run the wrong thing;
// so is the command for an empty Exec line.
// The program never starts a browser command longer than 519 characters: a link that makes
// it longer is refused rather than cut.
constexpr int kBrowserCommandCapacity = 520;
QString BuildBrowserCommand(const QString& execLine, const QString& target,
                            int capacity = kBrowserCommandCapacity);

// The Exec value of the [Desktop Entry] group of the desktop entry file at `path`;
// empty when the file cannot be read or has no such key.
QString ReadDesktopEntryExec(const QString& path);

// The Exec line of the default browser: `xdg-mime query default text/html` names its
// desktop entry, looked up in the applications directories. Empty when any step fails.
QString DefaultBrowserExec();
