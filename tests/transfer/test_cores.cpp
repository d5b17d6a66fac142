// Records, image files and the progress arithmetic, without a port or a window.

#include "Fakes.h"
#include "ImageFile.h"
#include "Progress.h"
#include "Protocol.h"
#include "RunTimeError.h"
#include "Variabili.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace ImageFile;

namespace {
void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

class TestCores : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void init()
    {
        Variabili::strFerma.clear();
        BackupWriter::setWorkingDirectory(m_dir.filePath(QStringLiteral("work")));
    }

    void records_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("end");
        QTest::newRow("example") << QByteArray::fromHex("0102030405060708090a0b0c0d" "005b01") << true << false;
        QTest::newRow("all 0xFF data") << QByteArray::fromHex("ffffffffffffffffffffffffff" "0cf3ff") << true << false;
        QTest::newRow("all zero") << QByteArray(16, 0) << true << false;
        QTest::newRow("end record") << QByteArray::fromHex("00112233445566778899aabbcc" "ffffff") << false << true;
        QTest::newRow("sumLo off") << QByteArray::fromHex("0102030405060708090a0b0c0d" "005c01") << false << false;
        QTest::newRow("xor off") << QByteArray::fromHex("0102030405060708090a0b0c0d" "005b00") << false << false;
        QTest::newRow("two 0xFF only") << QByteArray::fromHex("0102030405060708090a0b0c0d" "ffff01") << false << false;
    }

    void records()
    {
        QFETCH(QByteArray, record);
        QFETCH(bool, valid);
        QFETCH(bool, end);
        QCOMPARE(Protocol::isValidRecord(record), valid);
        QCOMPARE(Protocol::isEndRecord(record), end);
        if (valid)
            QCOMPARE(Protocol::makeRecord(record.left(13)), record);
    }

    void validator_data()
    {
        const QByteArray end = testEndRecord();
        const QByteArray bad = QByteArray(13, '\x11') + QByteArray::fromHex("000000");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("20 bytes: end record and trailer") << end + "TRLR" << "accepted";
        QTest::newRow("records, end, trailer") << testImage(7) << "accepted";
        QTest::newRow("bytes after the trailer ignored") << testImage(2) + "junk" << "accepted";
        QTest::newRow("bad record after the end never read") << end + "TRLR" + bad << "accepted";
        QTest::newRow("damaged third record") << testImage(2).left(32) + bad + end + "TRLR" << "damaged";
        QTest::newRow("first invalid not end, end follows") << testImage(1).left(16) + bad + end + "TRLR" << "damaged";
        QTest::newRow("empty") << QByteArray() << "error";
        QTest::newRow("shorter than a record") << QByteArray(15, '\x01') << "error";
        QTest::newRow("no end record") << testImage(3).left(48) << "error";
        QTest::newRow("last record short") << testImage(3).left(40) << "error";
        QTest::newRow("trailer of 3 bytes") << end + "TRL" << "error";
        QTest::newRow("no trailer") << testImage(4).chopped(4) << "error";
    }

    // Verdicts, and every file error is a run-time error naming the file.
    void validator()
    {
        QFETCH(QByteArray, image);
        QFETCH(QString, verdict);
        const QString path = m_dir.filePath(QStringLiteral("image.bio"));
        writeFile(path, image);
        QString got;
        try {
            got = validateImage(path) == Verdict::Accepted ? "accepted" : "damaged";
        } catch (const RunTimeError &e) {
            got = "error";
            QCOMPARE(e.number(), kErrPastEnd);
            QVERIFY2(e.description().contains(QDir::toNativeSeparators(path)), qPrintable(e.description()));
        }
        QCOMPARE(got, verdict);
    }

    void validatorMissingFileAndStop()
    {
        QVERIFY_THROWS_EXCEPTION(RunTimeError, validateImage(m_dir.filePath(QStringLiteral("none.bio"))));
        QVERIFY_THROWS_EXCEPTION(RunTimeError, validateImage(QString()));
        const QString path = m_dir.filePath(QStringLiteral("stop.bio"));
        writeFile(path, testImage(3));
        Variabili::strFerma = Variabili::kFerma;
        QVERIFY_THROWS_EXCEPTION(Protocol::TransferStopped, validateImage(path));
    }

    void reader()
    {
        const QString path = m_dir.filePath(QStringLiteral("read.bio"));
        const QByteArray image = testImage(2, "WXYZ");
        writeFile(path, image.left(image.size() - 1));
        ImageReader r;
        r.open(path);
        QCOMPARE(r.nextRecord(), image.mid(0, 16));
        QCOMPARE(r.nextRecord(), image.mid(16, 16));
        QCOMPARE(r.nextRecord(), testEndRecord());
        QVERIFY_THROWS_EXCEPTION(RunTimeError, r.trailer()); // 3 bytes left
        r.open(path); // opened again from the start
        QCOMPARE(r.nextRecord(), image.left(16));
    }

    void progress_data()
    {
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<float>("value");
        QTest::newRow("50") << 50 << "0 byte 0%" << -1.0f;
        QTest::newRow("51") << 51 << "803 byte 1%" << -1.0f;
        QTest::newRow("52") << 52 << "803 byte 1%" << -1.0f;
        QTest::newRow("last step below full scale") << int(100 / Progress::kStep) << "79568 byte 99%" << -1.0f;
        QTest::newRow("next step held") << int(100 / Progress::kStep) + 1 << "80372 byte 100%" << 100.0f;
        QTest::newRow("far beyond held") << 6000 << "80372 byte 100%" << 100.0f;
    }

    // Accumulated one step at a time in single precision, as the bar does.
    void progress()
    {
        QFETCH(int, steps);
        QFETCH(QString, caption);
        QFETCH(float, value);
        float bar = 0;
        for (int i = 0; i < steps; ++i)
            bar = Progress::nextValue(bar);
        QCOMPARE(Progress::caption(bar), caption);
        if (value >= 0)
            QCOMPARE(bar, value);
    }

    // The byte figure is computed in double: 75% is 60279 bytes, not 60278.
    void captionInDouble()
    {
        QCOMPARE(Progress::caption(75.5f), QStringLiteral("60279 byte 75%"));
        QCOMPARE(Progress::caption(0.0f), QStringLiteral("0 byte 0%"));
    }

    void backupWriterByteExact()
    {
        const QString dir = m_dir.filePath(QStringLiteral("fresh/k410"));
        BackupWriter::setWorkingDirectory(dir);
        BackupWriter w;
        w.create();
        const QByteArray image = testImage(3);
        w.append(image.left(16));
        w.append(image.mid(16, 32));
        w.append(image.mid(48, 16));
        w.append(image.right(4));
        w.finish();
        QCOMPARE(readFile(BackupWriter::workingFilePath()), image);
#ifdef Q_OS_UNIX
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(dir).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u); // private to the user
#endif
        // A second backup empties the working file first.
        w.create();
        w.append("abc");
        w.finish();
        QCOMPARE(readFile(BackupWriter::workingFilePath()), QByteArray("abc"));
        // Saved copies are byte-identical and replace what was there.
        const QString saved = m_dir.filePath(QStringLiteral("saved.bak"));
        writeFile(saved, "an older, longer backup file");
        BackupWriter::saveTo(saved);
        QCOMPARE(readFile(saved), QByteArray("abc"));
        QVERIFY_THROWS_EXCEPTION(RunTimeError, BackupWriter::verifySaved(saved, "abd"));
        QVERIFY_THROWS_EXCEPTION(RunTimeError, BackupWriter::saveTo(m_dir.filePath(QStringLiteral("no/such/dir/x.bak"))));
        QVERIFY_THROWS_EXCEPTION(RunTimeError, BackupWriter::saveTo(QString()));
    }

    // A link planted at the working file's name is never followed.
    void workingFileLinkNotFollowed()
    {
#ifndef Q_OS_UNIX
        QSKIP("QFile::link makes a shell shortcut here, not a link the file system follows");
#else
        const QString victim = m_dir.filePath(QStringLiteral("victim"));
        writeFile(victim, "precious");
        QDir().mkpath(BackupWriter::workingDirectory());
        QVERIFY(QFile::link(victim, BackupWriter::workingFilePath()));
        BackupWriter w;
        QVERIFY_THROWS_EXCEPTION(RunTimeError, w.create());
        QCOMPARE(readFile(victim), QByteArray("precious"));
        QFile::remove(BackupWriter::workingFilePath());
#endif
    }

    // A save that fails half-way (file size limit: works for root too) leaves
    // the file that was at the chosen path as it was, and no stray temporary.
    void failedSaveKeepsExistingFile()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs a file size limit (setrlimit)");
#else
        const QString dir = m_dir.filePath(QStringLiteral("target"));
        QDir().mkpath(dir);
        const QString saved = dir + QStringLiteral("/unit.bak");
        writeFile(saved, "OLD BACKUP");
        BackupWriter w;
        w.create();
        w.append(QByteArray(64 * 1024, '\x42'));
        w.finish();

        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 4096;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        bool threw = false;
        try {
            BackupWriter::saveTo(saved);
        } catch (const RunTimeError &e) {
            threw = e.description().contains(QDir::toNativeSeparators(saved));
        }
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(threw);
        QCOMPARE(readFile(saved), QByteArray("OLD BACKUP"));
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{QStringLiteral("unit.bak")});
#endif
    }
};

int runCoreTests(int argc, char **argv)
{
    TestCores t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_cores.moc"
