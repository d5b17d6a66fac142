// Windows side of the faulty inputs. Symbolic links come from
// CreateSymbolicLinkW, which needs a privilege or developer mode on Windows
// and makes nothing under Wine 8 (it reports success): the link is looked for
// afterwards, and its absence is said, not taken for a link.
#include "FaultyFiles.h"

#include <qt_windows.h>

namespace faulty {

QString plant(const QString &kind, const QString &path)
{
    if (kind.startsWith(QLatin1String("path:"))) {
        const QString name = kind.mid(5);
        // Wine shows the Unix tree as drive Z: (whose devices have no
        // attributes there): a PC without Z:\dev has no such file.
        if (name.startsWith(QLatin1String("Z:\\dev\\")) && !QFileInfo(QStringLiteral("Z:/dev")).isDir())
            return name + QStringLiteral(" does not exist here (Wine shows the Unix files as drive Z:)");
        return {};
    }
    if (kind.startsWith(QLatin1String("link:"))) {
        const QString target = QDir::toNativeSeparators(QFileInfo(path).dir().filePath(kind.mid(5)));
        const std::wstring link = QDir::toNativeSeparators(path).toStdWString();
        ::CreateSymbolicLinkW(link.c_str(), target.toStdWString().c_str(),
                              SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
        const DWORD attributes = ::GetFileAttributesW(link.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return QStringLiteral("CreateSymbolicLinkW made no link here (Wine 8 does not make them; Windows needs "
                                  "the privilege or developer mode)");
        return {};
    }
    return plantCommon(kind, path);
}

SmallDisk::SmallDisk(const QString &, bool readOnly)
{
    const QString root = qEnvironmentVariable("K410_SMALL_DISK");
    if (readOnly) {
        m_why = QStringLiteral("no read-only disk here");
        return;
    }
    if (root.isEmpty() || !QFileInfo(root).isDir()) {
        m_why = QStringLiteral("no small disk here: K410_SMALL_DISK names none (scripts/wine-tests.sh mounts one "
                               "for Wine when run as root)");
        return;
    }
    // A fresh folder of its own on it, gone again afterwards.
    const QString dir = QDir(QDir::fromNativeSeparators(root)).filePath(QStringLiteral("k410-full"));
    QDir(dir).removeRecursively();
    if (QDir().mkpath(dir))
        m_path = dir;
    else
        m_why = QStringLiteral("cannot make a folder on the small disk ") + root;
}

SmallDisk::~SmallDisk()
{
    if (!m_path.isEmpty())
        QDir(m_path).removeRecursively();
}

FileSizeLimit::FileSizeLimit(qint64)
    : m_why(QStringLiteral("Windows has no limit on the size of the files a process writes"))
{
}

FileSizeLimit::~FileSizeLimit() = default;

} // namespace faulty
