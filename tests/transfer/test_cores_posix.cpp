// The transfer suite's file faults that only POSIX calls can make: a
// read-only file system (root only), a pipe with a listener behind the
// working file's name, a directory open to everyone or owned by another user. Not built on Windows; test_cores.cpp holds the
// tables both platforms run.

#include "Fakes.h"
#include "FaultyFiles.h"
#include "ImageFile.h"
#include "RunTimeError.h"
#include "Variabili.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ImageFile;

namespace {
QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

unsigned modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0;
}

struct stat lstatOf(const QString &path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

/// A small tmpfs over `dir` for the length of a test (root only; none for an empty `dir`).
struct Tmpfs
{
    Tmpfs(const QString &dir, const char *options, unsigned long flags = 0)
        : path(QFile::encodeName(dir)),
          ok(!dir.isEmpty() && ::mount("tmpfs", path.constData(), "tmpfs", flags, options) == 0)
    {
    }
    ~Tmpfs()
    {
        if (ok)
            ::umount2(path.constData(), MNT_DETACH);
    }
    QByteArray path;
    bool ok;
};

} // namespace

class TestPosixFaults : public QObject
{
    Q_OBJECT

private slots:
    void init() { Variabili::strFerma.clear(); }
    void cleanup() { BackupWriter::setWorkingDirectory(QString()); }

    void workingDirectoryOwnership_data()
    {
        QTest::addColumn<QString>("kind"); // the working directory as found
        QTest::addColumn<bool>("created");
        QTest::newRow("missing: made private") << "missing" << true;
        QTest::newRow("0777 directory of ours, FIFO planted with a listener") << "fifo" << true;
        QTest::newRow("directory of another user") << "foreign" << false;
    }

    // The working directory must be ours and private (0700, repaired when it
    // is ours); a pipe planted at the working file's name is never fed the
    // firmware.
    void workingDirectoryOwnership()
    {
        QFETCH(QString, kind);
        QFETCH(bool, created);
        QTemporaryDir top;
        const QString dir = top.filePath(QStringLiteral("work"));
        BackupWriter::setWorkingDirectory(dir);
        const QString name = BackupWriter::workingFilePath();
        if (kind != "missing") {
            QVERIFY(QDir().mkpath(dir));
            QVERIFY(faulty::plant(kind == "fifo" ? kind : QStringLiteral("folder"), name).isEmpty());
            QCOMPARE(::chmod(QFile::encodeName(dir).constData(), 0777), 0);
        }
        if (kind == "foreign" && ::chown(QFile::encodeName(dir).constData(), 65534, 65534) != 0)
            QSKIP("only root can give a directory away to another user");
        const int listener = kind == "fifo" ? ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK) : -1;
        QVERIFY(kind != "fifo" || listener >= 0); // someone waiting for the firmware

        BackupWriter w;
        QString error;
        try {
            w.create();
            w.append(testImage(2));
            w.finish();
        } catch (const RunTimeError &e) {
            error = e.description();
        }
        QVERIFY2(error.isEmpty() == created, qPrintable(error));
        if (created) { // on disk: a private directory holding a regular file with the backup
            QCOMPARE(modeOf(dir), 0700u);
            QVERIFY(S_ISREG(lstatOf(name).st_mode));
            QCOMPARE(readFile(name), testImage(2));
        } else { // theirs, left alone
            QVERIFY2(error.contains(name) && error.contains("belongs to another user"), qPrintable(error));
            QVERIFY(S_ISDIR(lstatOf(name).st_mode));
            QCOMPARE(modeOf(dir), 0777u);
        }
        if (listener >= 0) {
            char got[64];
            QCOMPARE(::read(listener, got, sizeof got), ssize_t(0)); // not a byte reached the pipe
            ::close(listener);
        }
    }

    // A read-only file system is found when the save target is opened, right
    // after the save dialog; nothing is written there.
    void savePathOnReadOnlyFileSystem()
    {
        QTemporaryDir dir;
        Tmpfs readOnly(dir.path(), "size=64k", MS_RDONLY);
        if (!readOnly.ok)
            QSKIP("cannot mount a read-only file system here (needs root)");
        const QString path = dir.filePath(QStringLiteral("unit.bak"));
        SaveTarget target;
        QString error;
        try {
            target.open(path);
        } catch (const RunTimeError &e) {
            error = e.description();
        }
        QVERIFY2(error.contains("read-only") && error.contains(path), qPrintable(error));
        QVERIFY(!target.isOpen());
        QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden));
    }
};

int runPosixFaultTests(int argc, char **argv)
{
    TestPosixFaults t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_cores_posix.moc"
