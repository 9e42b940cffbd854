#pragma once
// The program's Yes/No question: the question icon, Yes and No, the program's title as caption.

class QWidget;

// Asks the text of string `stringId`; true only for Yes.
bool AskYesNo(QWidget* parent, unsigned stringId);
