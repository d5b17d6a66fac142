// Unix side of the faulty inputs: pipes and links made with the POSIX calls.
#include "FaultyFiles.h"

#include <cerrno>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace faulty {

QString plant(const QString &kind, const QString &path)
{
    if (kind.startsWith(QLatin1String("path:")))
        return {};
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(QFile::encodeName(path).constData(), 0666) == 0 ? QString() : qt_error_string(errno);
    if (kind.startsWith(QLatin1String("link:")))
        return QFile::link(kind.mid(5), path) ? QString() : QStringLiteral("symlink failed");
    return plantCommon(kind, path);
}

SmallDisk::SmallDisk(const QString &scratch, bool readOnly)
{
    if (::mount("tmpfs", QFile::encodeName(scratch).constData(), "tmpfs", readOnly ? MS_RDONLY : 0, "size=64k") == 0)
        m_path = scratch;
    else
        m_why = QStringLiteral("cannot mount a small tmpfs here (needs root): ") + qt_error_string(errno);
}

SmallDisk::~SmallDisk()
{
    if (!m_path.isEmpty())
        ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
}

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    m_old = limit.rlim_cur;
    limit.rlim_cur = rlim_t(bytes);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
        m_why = QStringLiteral("setrlimit: ") + qt_error_string(errno);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(m_old);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

} // namespace faulty
