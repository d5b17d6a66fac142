// Unix side of the faulty inputs: pipes and links made with the POSIX calls.
#include "FaultyFiles.h"

#include <cerrno>
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

} // namespace faulty
