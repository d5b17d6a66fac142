// Records, image files and the progress arithmetic, without a port or a window.

#include "ScriptedUnit.h"
#include "ImageFile.h"
#include "Progress.h"
#include "Protocol.h"
#include "RunTimeError.h"
#include "TestUtil.h"
#include "Variabili.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

/// Makes a faulty input at `path`: "fifo", "folder", "huge" (sparse, one byte
/// over the image cap) or "link:TARGET".
bool plant(const QString &kind, const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (kind == "fifo")
        return ::mkfifo(native.constData(), 0666) == 0;
    if (kind == "folder")
        return QDir().mkpath(path);
    if (kind == "huge")
        return testutil::writeAll(path, "x") && ::truncate(native.constData(), kMaxImageBytes + 1) == 0;
    return kind.startsWith("link:") && QFile::link(kind.mid(5), path);
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

/// RLIMIT_FSIZE lowered for the length of a scope; SIGXFSZ ignored so that
/// the write fails (EFBIG) instead of killing the test.
struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
    rlimit old{};
};
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
            got = validateImage(loadImage(path)) == Verdict::Accepted ? "accepted" : "damaged";
        } catch (const RunTimeError &e) {
            got = "error";
            QCOMPARE(e.number(), kErrPastEnd);
            QVERIFY2(e.description().contains(QDir::toNativeSeparators(path)), qPrintable(e.description()));
        }
        QCOMPARE(got, verdict);
    }

    void validatorMissingFileAndStop()
    {
        QVERIFY_THROWS_EXCEPTION(RunTimeError, loadImage(m_dir.filePath(QStringLiteral("none.bio"))));
        QVERIFY_THROWS_EXCEPTION(RunTimeError, loadImage(QString()));
        Variabili::strFerma = Variabili::kFerma;
        QVERIFY_THROWS_EXCEPTION(Protocol::TransferStopped, validateImage(Image{QStringLiteral("x.bio"), testImage(3)}));
    }

    void reader()
    {
        const QByteArray image = testImage(2, "WXYZ");
        ImageReader r;
        r.open(Image{QStringLiteral("read.bio"), image.chopped(1)});
        QCOMPARE(r.nextRecord(), image.mid(0, 16));
        QCOMPARE(r.nextRecord(), image.mid(16, 16));
        QCOMPARE(r.nextRecord(), testEndRecord());
        QVERIFY_THROWS_EXCEPTION(RunTimeError, r.trailer()); // 3 bytes left
        r.open(Image{QStringLiteral("read.bio"), image}); // again from the start
        QCOMPARE(r.nextRecord(), image.left(16));
    }

    void imageInputsMadeForReal_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::newRow("link to /dev/zero (endless valid records)") << "link:/dev/zero" << "it is a device";
        QTest::newRow("FIFO nobody writes to") << "fifo" << "it is a pipe";
        QTest::newRow("folder named like an image") << "folder" << "it is a folder";
        QTest::newRow("sparse file one byte over the cap") << "huge" << "larger than 16 MiB";
        QTest::newRow("link to a good image") << "link:good.bio" << "";
    }

    // What a file dialog hands over is refused at once, without blocking,
    // unless it is a regular file of a sane size; the thing at the name stays.
    void imageInputsMadeForReal()
    {
        QFETCH(QString, kind);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("x.bio"));
        writeFile(dir.filePath(QStringLiteral("good.bio")), testImage(4));
        QVERIFY(plant(kind, path));
        const struct stat before = lstatOf(path);
        QString error;
        try {
            QCOMPARE(validateImage(loadImage(path)), Verdict::Accepted);
        } catch (const RunTimeError &e) {
            error = e.description();
        }
        QVERIFY2(refusal.isEmpty() ? error.isEmpty() : error.contains(refusal) && error.contains(path), qPrintable(error));
        QCOMPARE(lstatOf(path).st_mode, before.st_mode);
        QCOMPARE(lstatOf(path).st_size, before.st_size);
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
        QCOMPARE(w.bytes(), image);
        QCOMPARE(readFile(BackupWriter::workingFilePath()), image);
        QCOMPARE(modeOf(dir), 0700u); // private to the user
        // A second backup empties the working file and the memory first.
        w.create();
        w.append("abc");
        w.finish();
        QCOMPARE(readFile(BackupWriter::workingFilePath()), QByteArray("abc"));
        QCOMPARE(w.bytes(), QByteArray("abc"));
    }

    void workingDirectoryMadeForReal_data()
    {
        QTest::addColumn<QString>("kind"); // what is planted at the working file's name
        QTest::addColumn<bool>("created");
        QTest::newRow("0777 directory of ours, FIFO planted") << "fifo" << true;
        QTest::newRow("link planted") << "link:victim" << true;
        QTest::newRow("folder at the name") << "folder" << false;
        QTest::newRow("directory of another user") << "foreign" << false;
    }

    // The working directory must be ours and private; what was planted at the
    // working file's name is never opened, followed or fed the firmware.
    void workingDirectoryMadeForReal()
    {
        QFETCH(QString, kind);
        QFETCH(bool, created);
        QTemporaryDir top;
        const QString dir = top.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(dir));
        BackupWriter::setWorkingDirectory(dir);
        const QString name = BackupWriter::workingFilePath();
        writeFile(dir + QStringLiteral("/victim"), "precious");
        QVERIFY(plant(kind == "foreign" ? QStringLiteral("link:victim") : kind, name));
        QCOMPARE(::chmod(QFile::encodeName(dir).constData(), 0777), 0);
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
        } else {
            QVERIFY(error.contains(name));
            QVERIFY(kind != "foreign" || S_ISLNK(lstatOf(name).st_mode)); // theirs, left alone
        }
        if (listener >= 0) {
            char got[64];
            QCOMPARE(::read(listener, got, sizeof got), ssize_t(0)); // not a byte reached the pipe
            ::close(listener);
        }
        QCOMPARE(readFile(dir + QStringLiteral("/victim")), QByteArray("precious"));
    }

    void savePathRefusedBeforeBackup_data()
    {
        QTest::addColumn<QString>("kind"); // what is at the chosen path
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing folder") << "missing" << "does not exist";
        QTest::newRow("folder") << "folder" << "it is a folder";
        QTest::newRow("link to /dev/null") << "link:/dev/null" << "not a file on a disk";
        QTest::newRow("FIFO") << "fifo" << "not a file on a disk";
        QTest::newRow("read-only file system") << "readonly" << "read-only";
    }

    // A path that cannot take the backup is refused when the save target is
    // opened, i.e. right after the save dialog; nothing at the path changes.
    void savePathRefusedBeforeBackup()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString path = dir.filePath(kind == "missing" ? QStringLiteral("no/such/unit.bak") : QStringLiteral("unit.bak"));
        Tmpfs readOnly(kind == "readonly" ? dir.path() : QString(), "size=64k", MS_RDONLY);
        if (kind == "readonly" && !readOnly.ok)
            QSKIP("cannot mount a read-only file system here (needs root)");
        QVERIFY(kind == "missing" || kind == "readonly" || plant(kind, path));
        const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        SaveTarget target;
        QString error;
        try {
            target.open(path);
        } catch (const RunTimeError &e) {
            error = e.description();
        }
        QVERIFY2(error.contains(reason) && error.contains(path), qPrintable(error));
        QVERIFY(!target.isOpen());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), before);
    }

    void fullFileSystemKeepsOldBackup_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<int>("roomLeft");   // bytes left free on the tmpfs
        QTest::addColumn<bool>("sizeLimit"); // RLIMIT_FSIZE instead of a full tmpfs
        QTest::newRow("over an old backup, tmpfs full") << true << 0 << false;
        QTest::newRow("new name, 4 KB left: write cut short") << false << 4096 << false;
        QTest::newRow("over an old backup, file size limit") << true << 0 << true;
    }

    // The disk fills up while the backup is saved: the flush fails although
    // the write was accepted. The old backup at the path keeps every byte, no
    // empty or partial file is left, and the message says why and where the
    // working copy is.
    void fullFileSystemKeepsOldBackup()
    {
        QFETCH(bool, existing);
        QFETCH(int, roomLeft);
        QFETCH(bool, sizeLimit);
        QTemporaryDir top;
        const QString dir = top.path();
        Tmpfs small(sizeLimit ? QString() : dir, "size=64k");
        if (!sizeLimit && !small.ok)
            QSKIP("cannot mount a small tmpfs here (needs root); the file size limit row covers the fault");
        const QString path = dir + QStringLiteral("/unit.bak");
        if (existing)
            writeFile(path, "OLD BACKUP");
        if (!sizeLimit) { // fill the file system to the last byte
            QFile filler(dir + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(1024, 'f');
            while (filler.write(block) == block.size()) {
            }
            QVERIFY(filler.resize(filler.size() - roomLeft));
        }
        const QStringList before = QDir(dir).entryList(QDir::Files);

        SaveTarget target;
        target.open(path); // a file can still be created: only its data will not fit
        const QByteArray backup = testImage(500); // 8 KB: Qt keeps it in its buffer until the flush
        QString error;
        {
            std::optional<FileSizeLimit> limit;
            if (sizeLimit)
                limit.emplace(4096);
            try {
                target.commit(backup, QStringLiteral("/work/k410.bak"));
            } catch (const RunTimeError &e) {
                error = e.description();
            }
        }
        QVERIFY2(error.contains(sizeLimit ? "only part of the data" : "the disk is full"), qPrintable(error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(QStringLiteral("/work/k410.bak"))), qPrintable(error));
        QCOMPARE(readFile(path), existing ? QByteArray("OLD BACKUP") : QByteArray("<missing>"));
        QCOMPARE(QDir(dir).entryList(QDir::Files), before); // no temporary, no empty new name
    }
};

int runCoreTests(int argc, char **argv)
{
    TestCores t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_cores.moc"
