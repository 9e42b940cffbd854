#pragma once
// How a failure of something the user just asked for is told: a message box with the warning
// icon and the program's title as its caption, holding what failed, the file's path and the
// reason.

#include <string>
#include <system_error>

class QWidget;

// Shows the text of string `stringId`, then on a line of its own "<path>: <reason>". Nothing
// when `error` is empty.
void TellFileFailure(QWidget* parent, unsigned stringId, const std::string& path, std::error_code error);
