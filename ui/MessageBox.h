// The program's one way to show a message box: an MB_* style in, the ID* code of the answer out,
// for the main window, the text-file commands and the dialogs alike.
#pragma once

#include <QString>
#include <cstdint>

class QWidget;

// Shows a modal box owned by `owner` (null: an application box) with the buttons, icon and
// second-button default of `style`; returns IDOK, IDCANCEL, IDYES or IDNO. A box closed without
// a button answers with one of its own buttons where it has no Cancel: IDOK for an OK box, IDNO
// for Yes/No; IDCANCEL otherwise.
int32_t RunMessageBox(QWidget* owner, const QString& caption, const QString& text, intptr_t style);
