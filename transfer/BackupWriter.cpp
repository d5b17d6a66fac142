#include "BackupWriter.h"

#include "RunTimeError.h"

namespace ImageFile {

using namespace fileWords;
using Texts::Key;

namespace {

/// Writes all of `bytes`: a write cut short goes on with the rest, so the
/// system says why it stopped.
bool writeAll(QFileDevice &file, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        file.unsetError();
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QString g_workingDirectory;

} // namespace

QString BackupWriter::workingDirectory()
{
    if (!g_workingDirectory.isEmpty())
        return g_workingDirectory;
    const QString fromEnv = qEnvironmentVariable("K410_WORKDIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return PlatformFile::defaultWorkingDirectory();
}

QString BackupWriter::workingFilePath()
{
    return PlatformFile::WorkingFolder::folderFor(workingDirectory()) + QLatin1Char('/')
           + QLatin1String(kWorkingFileName);
}

void BackupWriter::setWorkingDirectory(const QString &dir)
{
    g_workingDirectory = dir;
}

QString BackupWriter::path() const
{
    return m_folder.isOpen() ? m_folder.path() + QLatin1Char('/') + QLatin1String(kWorkingFileName)
                             : workingFilePath();
}

void BackupWriter::check()
{
    if (const Failure why = holdFolder(); !why.isEmpty())
        throw RunTimeError(kErrFileAccess, why.text());
}

Failure BackupWriter::holdFolder()
{
    using PlatformFile::Problem;
    close();
    const QString dir = workingDirectory();
    if (dir.isEmpty())
        return {say(Key::NoWorkingFolder), {}};
    const PlatformFile::Outcome got = m_folder.open(dir, QLatin1String(kWorkingFileName));
    const QString where = quoted(got.path.isEmpty() ? dir : got.path);
    Failure why;
    switch (got.problem) {
    case Problem::None:
        return {};
    case Problem::Link:
        why = {say(Key::WorkFolderIsLink).arg(where), {}};
        break;
    case Problem::NotOurs:
        why = {say(Key::FolderOfOtherUser).arg(where, got.what), {}};
        break;
    case Problem::NotPrivate:
        why = {say(Key::FolderNotPrivate).arg(where), {}};
        break;
    case Problem::NotRegular:
        why = {got.path.isEmpty() ? say(Key::InTheWay).arg(got.what) : say(Key::IsNotFolder).arg(where, got.what), {}};
        break;
    default:
        why = because(got.osError);
        why.words += inFolder(got);
        break;
    }
    return reasonFirst(why, say(Key::CannotCreateWorkingFile)
                                .arg(quoted(PlatformFile::WorkingFolder::folderFor(dir) + QLatin1Char('/')
                                            + QLatin1String(kWorkingFileName))));
}

void BackupWriter::create()
{
    m_file.close();
    m_bytes.clear();
    m_problem = {};
    if (!m_folder.isOpen()) {
        m_problem = holdFolder();
        if (!m_problem.isEmpty())
            return;
    }
    const PlatformFile::Outcome got = m_folder.createFile(QLatin1String(kWorkingFileName), m_file);
    if (got.problem == PlatformFile::Problem::NotRegular)
        failed({say(Key::InTheWay).arg(got.what), {}});
    else if (!got.ok())
        failed(because(got.osError));
}

void BackupWriter::failed(const Failure &why)
{
    if (m_problem.isEmpty())
        m_problem = reasonFirst(why, say(Key::CannotWriteWorkingFile).arg(quoted(path())));
    m_file.close();
}

void BackupWriter::append(const QByteArray &bytes)
{
    m_bytes += bytes;
    if (m_file.isOpen() && !writeAll(m_file, bytes))
        failed(becauseWrite(m_file, path(), bytes.size()));
}

void BackupWriter::finish()
{
    if (m_file.isOpen() && (!m_file.flush() || m_file.error() != QFileDevice::NoError))
        failed(becauseWrite(m_file, path(), 1));
    m_file.close();
}

void BackupWriter::close()
{
    m_file.close();
    m_folder.close();
}

} // namespace ImageFile
