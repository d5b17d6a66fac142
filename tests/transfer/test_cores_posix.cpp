// The working directory's faults that only POSIX calls can make: a pipe with
// a listener behind the working file's name, a directory open to everyone or
// owned by another user. Not built on Windows; test_cores.cpp holds the
// tables both platforms run.

#include "ScriptedUnit.h"
#include "FaultyFiles.h"
#include "ImageFile.h"
#include "TestUtil.h"
#include "Variabili.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ImageFile;

namespace {
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
        const uid_t other = ::geteuid() == 65534 ? 65533 : 65534;
        if (kind == "foreign" && ::chown(QFile::encodeName(dir).constData(), other, other) != 0)
            QSKIP("only root can give a directory away to another user");
        const int listener = kind == "fifo" ? ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK) : -1;
        QVERIFY(kind != "fifo" || listener >= 0); // someone waiting for the firmware

        const QString error = faulty::backupError(testImage(2));
        QVERIFY2(error.isEmpty() == created, qPrintable(error));
        if (created) { // on disk: a private directory holding a regular file with the backup
            QCOMPARE(modeOf(dir), 0700u);
            QVERIFY(S_ISREG(lstatOf(name).st_mode));
            QCOMPARE(testutil::readAll(name), testImage(2));
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
};

int runPosixFaultTests(int argc, char **argv)
{
    TestPosixFaults t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_cores_posix.moc"
