#include "DlgOpen.h"

#include "RunTimeError.h"
#include "Texts.h"
#include "Variabili.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {

DlgOpen::Answerer &answerer()
{
    static DlgOpen::Answerer hook;
    return hook;
}

// True when the name carries a directory part ("dir/name", "c:\dir\name", "/name").
bool hasDirectory(const QString &fileName)
{
    return fileName.contains(QLatin1Char('/')) || fileName.contains(QLatin1Char('\\'));
}

// QFileInfo splits on '/' only; accept the Windows separator on every platform.
QString normalised(const QString &fileName)
{
    QString name = fileName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return name;
}

/// The question before a name is replaced, with its answers in the
/// technician's language: true for Yes. No is the default.
bool askToReplace(QWidget *parent, const QString &title, const QString &question)
{
    QMessageBox box(QMessageBox::Warning, title, question, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(Texts::text(Texts::Key::Yes));
    box.button(QMessageBox::No)->setText(Texts::text(Texts::Key::No));
    return box.exec() == QMessageBox::Yes;
}

} // namespace

DlgOpen::DlgOpen(QWidget *parent) : m_parent(parent) {}

void DlgOpen::setAnswerer(Answerer hook)
{
    answerer() = std::move(hook);
}

QStringList DlgOpen::nameFilters(const QString &filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    if (filter.isEmpty())
        return result;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString name = parts[i].trimmed();
        QString patterns = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
        if (patterns.isEmpty())
            patterns = QStringLiteral("*");
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString suffix = QLatin1Char('(') + patterns + QLatin1Char(')');
        if (name.isEmpty())
            result << suffix;
        else if (name.endsWith(suffix))
            result << name;
        else
            result << name + QLatin1Char(' ') + suffix;
    }
    return result;
}

QString DlgOpen::startDirectory() const
{
    if (hasDirectory(FileName))
        return QFileInfo(normalised(FileName)).absolutePath();
    const QString env = qEnvironmentVariable("K410_DIALOG_DIR");
    if (!env.isEmpty())
        return QDir(env).absolutePath();
    return QDir::currentPath();
}

QString DlgOpen::replaceQuestion(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    const QString name = info.fileName();
    if (!info.isSymLink())
        return Texts::text(Texts::Key::ReplaceFile).arg(name);
    const QString leadsTo = QDir::toNativeSeparators(info.symLinkTarget());
    return Texts::text(info.exists() ? Texts::Key::ReplaceLink : Texts::Key::ReplaceLinkToNothing).arg(name, leadsTo);
}

void DlgOpen::ShowSave()
{
    show(true);
}

void DlgOpen::ShowOpen()
{
    show(false);
}

void DlgOpen::show(bool save)
{
    const QString dir = startDirectory();
    const QString name = QFileInfo(normalised(FileName)).fileName();
    const QString proposed = name.isEmpty() ? dir : QDir(dir).filePath(name);
    const QStringList filters = nameFilters(Filter);

    std::optional<QString> chosen;
    if (answerer()) {
        chosen = answerer()(save, DialogTitle, filters.join(QStringLiteral(";;")), proposed);
    } else {
        QFileDialog dialog(m_parent, DialogTitle, dir);
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        // The question before a file is replaced is asked here, where it can
        // say that the name is a link and where it leads.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, save);
        if (!filters.isEmpty()) {
            dialog.setNameFilters(filters);
            dialog.selectNameFilter(filters.first());
        }
        if (!name.isEmpty())
            dialog.selectFile(name);
        while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            const QString file = dialog.selectedFiles().first();
            const QString question = save ? replaceQuestion(file) : QString();
            if (question.isEmpty() || askToReplace(m_parent, DialogTitle, question)) {
                chosen = file;
                break;
            }
            // Not to be replaced: choose again, unless the program is ending.
            if (Variabili::stopRequested())
                break;
        }
    }

    // The focus goes back to the window itself, not to the next control Qt
    // would pick: that may be a Text1 box, where one stray key stops the run.
    if (m_parent)
        m_parent->window()->setFocus(Qt::OtherFocusReason);

    if (!chosen || chosen->isEmpty())
        throw RunTimeError(kErrCancelSelected, Texts::text(Texts::Key::CancelSelected));
    const QString path = QDir::toNativeSeparators(*chosen);
    if (path.size() > kMaxFileNameLength)
        throw RunTimeError(kErrBufferTooSmall,
                           Texts::text(Texts::Key::ChosenNameTooLong).arg(QString::number(kMaxFileNameLength), path));
    FileName = path;
}
