#pragma once
// The file dialog as the transfer procedure uses it: one dialog control serves
// both the save and the open dialog. The window's dlgOpen implements it over
// QFileDialog; tests answer it without showing anything.

#include <QString>

class FileDialog
{
public:
    virtual ~FileDialog() = default;

    QString DialogTitle;
    /// Filter in "name|pattern|name|pattern" form, e.g. "File bak (*.bak)|*.bak".
    QString Filter;
    /// Proposed name before the dialog, chosen name after it.
    QString FileName;

    /// Show a save dialog; on acceptance FileName holds the chosen path.
    /// Cancelling throws RunTimeError 32755 ("Cancel was selected").
    virtual void ShowSave() = 0;
    /// Show an open dialog; same rules as ShowSave.
    virtual void ShowOpen() = 0;
};
