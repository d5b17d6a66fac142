#pragma once
// The window's file dialog (dlgOpen) over QFileDialog. One object serves both
// the save and the open dialog: the caller sets DialogTitle, Filter and FileName,
// shows the dialog and reads the chosen path back from FileName.

#include "FileDialog.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>

class DlgOpen : public FileDialog
{
public:
    /// Longest path the dialog hands back, in characters.
    static constexpr int kMaxFileNameLength = 260;

    /// Answers a dialog instead of showing it. `filter` holds the Qt name filters
    /// joined by ";;" (the first one selected), `fileName` the proposed path (start
    /// directory joined with FileName's name, the directory alone when FileName is
    /// empty). Returning nullopt cancels the dialog.
    using Answerer = std::function<std::optional<QString>(
        bool save, const QString &title, const QString &filter, const QString &fileName)>;

    explicit DlgOpen(QWidget *parent = nullptr);

    void ShowSave() override;
    void ShowOpen() override;

    /// Install (or, with an empty function, remove) the answerer used by every dialog.
    static void setAnswerer(Answerer answerer);

    /// "name|pattern|name|pattern" to Qt name filters: "File bak (*.bak)|*.bak"
    /// gives "File bak (*.bak)"; a name without its pattern in parentheses gets
    /// them appended; several patterns "*.a;*.b" become "*.a *.b".
    static QStringList nameFilters(const QString &filter);

    /// Directory the dialog opens in: FileName's own directory when it names one,
    /// else $K410_DIALOG_DIR when set, else the current directory.
    QString startDirectory() const;

    /// The question asked before a save replaces what is at `path`: whether it
    /// may be replaced, and for a link, that it is one and where it leads
    /// (the file that a save would replace). Empty when nothing is there.
    static QString replaceQuestion(const QString &path);

private:
    void show(bool save);

    QPointer<QWidget> m_parent;
};
