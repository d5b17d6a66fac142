#include "SaveTarget.h"

#include "RunTimeError.h"

#include <QFileInfo>

namespace ImageFile {

using namespace fileWords;
using Texts::Key;

SaveTarget::SaveTarget() = default;
SaveTarget::~SaveTarget() = default;

void SaveTarget::open(const QString &path)
{
    using PlatformFile::Problem;
    cancel();
    if (path.isEmpty())
        throw RunTimeError(kErrFileAccess, say(Key::SaveNoName));
    const PlatformFile::Outcome got = m_folder.open(path);
    Failure why;
    switch (got.problem) {
    case Problem::None:
        m_path = path;
        return;
    case Problem::NotFound:
        why = got.path.isEmpty() ? because(got.osError)
                                 : Failure{say(Key::FolderDoesNotExist).arg(quoted(got.path)), {}};
        break;
    case Problem::NotRegular:
        // The folder of the name, when that is what turned out not to be one.
        why = {got.path.isEmpty() ? say(Key::NotFileOnDisk).arg(got.what)
                                  : say(Key::IsNotFolder).arg(quoted(got.path), got.what),
               {}};
        break;
    case Problem::ReadOnly:
        why = {say(Key::FileReadOnly), {}};
        break;
    case Problem::Link:
        why = {say(Key::LinkNotFollowed), {}};
        break;
    case Problem::ForeignLink:
        why = {say(Key::ForeignLink).arg(got.what, quoted(got.path)), {}};
        break;
    default:
        why = because(got.osError);
        why.words += inFolder(got);
        break;
    }
    throw RunTimeError(kErrFileAccess, reasonFirst(why, say(Key::CannotSaveBackup).arg(quoted(path))).text());
}

QString SaveTarget::commit(const QByteArray &bytes, const QString &workingCopy, const Failure &workingProblem)
{
    const QString path = m_path;
    const Failure kept = workingProblem.isEmpty()
                             ? Failure{say(Key::KeptInWorkingFile).arg(quoted(workingCopy)), {}}
                             : Failure{say(Key::KeptNowhere).arg(workingProblem.words), workingProblem.system};
    const auto failed = [&](const Failure &why) {
        cancel();
        return RunTimeError(kErrFileAccess,
                            joined(reasonFirst(why, say(Key::CannotSaveBackup).arg(quoted(path))), kept).text());
    };
    if (!m_folder.isOpen())
        throw failed({say(Key::NotOpened), {}});
    if (const PlatformFile::Outcome got = m_folder.replace(bytes); !got.ok())
        throw failed(because(got.osError));

    // Read back through the held folder: the name may have been taken over since the rename.
    QByteArray saved;
    const PlatformFile::Outcome got = m_folder.readBack(bytes.size(), saved);
    if (!got.ok() || saved != bytes) {
        const Failure why = got.problem == PlatformFile::Problem::Os || got.problem == PlatformFile::Problem::NotFound
                                ? reasonFirst(because(got.osError), say(Key::CannotReadBack).arg(quoted(path)))
                                : Failure{say(Key::SavedDiffers).arg(quoted(path)), {}};
        cancel();
        throw RunTimeError(kErrFileAccess, joined(why, kept).text());
    }
    QString notice;
    if (const QString moved = m_folder.movedFolder(); !moved.isEmpty())
        notice = say(Key::FolderMoved).arg(quoted(QFileInfo(m_folder.target()).absolutePath()), quoted(moved));
    cancel();
    return notice;
}

void SaveTarget::cancel()
{
    m_folder.close();
    m_path.clear();
}

} // namespace ImageFile
