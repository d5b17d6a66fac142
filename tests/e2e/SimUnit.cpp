#include "SimUnit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
std::atomic<int> g_serial{0};
} // namespace

SimUnit::SimUnit(const QStringList &args, const QString &dir) : m_args(args)
{
    const int n = ++g_serial;
    m_reportPath = QDir(dir).filePath(QStringLiteral("sim-report-%1.txt").arg(n));
    m_outPath = QDir(dir).filePath(QStringLiteral("sim-firmware-%1.bin").arg(n));
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

SimUnit::~SimUnit()
{
    stop();
}

QString SimUnit::program()
{
    return qEnvironmentVariable("K410_SIM");
}

bool SimUnit::runOnce(const QStringList &args)
{
    return QProcess::execute(program(), args) == 0;
}

bool SimUnit::start()
{
    if (program().isEmpty()) {
        m_error = QStringLiteral("K410_SIM does not name the simulator");
        return false;
    }
    m_process.start(program(), m_args + QStringList{QStringLiteral("--report"), m_reportPath,
                                                    QStringLiteral("--out"), m_outPath});
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(10000)) {
            m_error = QStringLiteral("no device line: ") + QString::fromLocal8Bit(m_process.readAllStandardError());
            return false;
        }
    }
    m_device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (m_device.isEmpty()) {
        m_error = QStringLiteral("empty device line");
        return false;
    }
    return true;
}

bool SimUnit::running() const
{
    return m_process.state() != QProcess::NotRunning;
}

void SimUnit::stop()
{
    if (!running())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void SimUnit::kill()
{
    if (!running())
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool SimUnit::waitForEnd(int ms)
{
    return !running() || m_process.waitForFinished(ms);
}

QMap<QString, QString> SimUnit::report()
{
    stop();
    if (!m_reportRead) {
        m_reportRead = true;
        QFile file(m_reportPath);
        if (file.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = file.readAll().split('\n');
            for (const QByteArray &line : lines) {
                const qsizetype eq = line.indexOf('=');
                if (eq > 0)
                    m_report.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
            }
        }
    }
    return m_report;
}

long long SimUnit::number(const QString &key)
{
    bool ok = false;
    const long long value = report().value(key).toLongLong(&ok);
    return ok ? value : -1;
}

QByteArray SimUnit::firmware()
{
    stop();
    QFile file(m_outPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int openDescriptorsOn(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath().isEmpty() ? path
                                                                          : QFileInfo(path).canonicalFilePath();
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (QFile::symLinkTarget(fds.filePath(entry)) == target)
            ++count;
    }
    return count;
}

int bytesWaitingOn(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) < 0)
        waiting = -1;
    ::close(fd);
    return waiting;
}
