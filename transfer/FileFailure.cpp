#include "FileFailure.h"

#include <QDir>
#include <QFileDevice>
#include <QFileInfo>
#include <QStorageInfo>

namespace ImageFile {

using Texts::Key;

QString Failure::text() const
{
    QStringList shown = system;
    shown.removeAll(QString());
    shown.removeDuplicates();
    return shown.isEmpty() ? words : words + QStringLiteral(" (") + shown.join(QStringLiteral("; ")) + QLatin1Char(')');
}

namespace fileWords {

QString say(Key key)
{
    return Texts::text(key);
}

QString quoted(const QString &path)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

Failure reasonFirst(const Failure &reason, const QString &rest)
{
    QString text = reason.words;
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return {say(Key::ReasonThenWhat).arg(text, rest), reason.system};
}

Failure joined(const Failure &first, const Failure &then)
{
    return {first.words + QStringLiteral(". ") + then.words, first.system + then.system};
}

Failure because(const QString &plain, const QString &system)
{
    if (plain.isEmpty())
        return {say(Key::SystemError), {system}};
    if (system.isEmpty() || system.compare(plain, Qt::CaseInsensitive) == 0)
        return {plain, {}};
    return {plain, {system}};
}

Failure because(int osError)
{
    if (osError == 0)
        return {say(Key::NoReasonGiven), {}};
    return because(PlatformFile::plainWords(osError), qt_error_string(osError));
}

Failure becauseWrite(const QFileDevice &file, const QString &path, qint64 wanted)
{
    const QString system = file.errorString();
    if (const QString plain = PlatformFile::plainWords(system); !plain.isEmpty())
        return because(plain, system);
    const QStorageInfo disk(QFileInfo(path).absolutePath());
    if (disk.isValid() && disk.bytesAvailable() < wanted)
        return {say(Key::DiskFull), {}};
    return {say(Key::PartialWrite), {}};
}

QString inFolder(const PlatformFile::Outcome &got)
{
    return got.path.isEmpty() ? QString() : QLatin1Char(' ') + say(Key::InFolder).arg(quoted(got.path));
}

} // namespace fileWords

} // namespace ImageFile
