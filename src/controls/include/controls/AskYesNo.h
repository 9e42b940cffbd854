#pragma once
// The program's Yes/No question: the question icon, Yes and No, caption "Orvane v 1.1 XP".

class QWidget;

// Asks the text of string `stringId`; true only for Yes.
bool AskYesNo(QWidget* parent, unsigned stringId);
