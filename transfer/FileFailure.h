#pragma once
// How the image and backup files word what went wrong: our words, reason
// first, in plain language and naming the file, so a one-line box still shows
// why; the system's own messages kept apart and shown last. Shared by the
// images (ImageFile.h), the working backup file (BackupWriter.h) and the
// checked save (SaveTarget.h).

#include "PlatformFile.h"
#include "Texts.h"

#include <QString>
#include <QStringList>

class QFileDevice;

namespace ImageFile {

/// Why a file operation failed: our words, reason first, and apart from them
/// the system's own messages, which a text shows last.
struct Failure
{
    QString words;
    QStringList system;

    bool isEmpty() const { return words.isEmpty(); }
    /// The words, then the system's messages in parentheses.
    QString text() const;
};

/// The wording helpers of the file code (ImageFile, BackupWriter, SaveTarget).
namespace fileWords {

/// The text of `key` in the technician's language.
QString say(Texts::Key key);
/// A path as the technician's system writes it, in double quotes.
QString quoted(const QString &path);

/// "Reason: what could not be done": the reason leads, with a capital, so a
/// one-line box that cuts the text still shows why. The system's messages
/// stay apart, to be shown last.
Failure reasonFirst(const Failure &reason, const QString &rest);
/// Two statements one after the other, the system's messages of both kept apart.
Failure joined(const Failure &first, const Failure &then);

/// Plain words first; the system's own wording goes apart, unless it only
/// repeats them. Without plain words the system's wording is all there is to
/// say, after a word that something failed.
Failure because(const QString &plain, const QString &system);
/// Why the system refused, from its error code (errno, or GetLastError()).
Failure because(int osError);
/// Why a write to a Qt file object failed, plain words first. A write the
/// system cut short without saying why is looked into: a full disk is the
/// usual cause.
Failure becauseWrite(const QFileDevice &file, const QString &path, qint64 wanted);

/// Where a path problem lies, when it is not the file itself: " in the folder X".
QString inFolder(const PlatformFile::Outcome &got);

} // namespace fileWords

} // namespace ImageFile
