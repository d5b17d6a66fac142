// Records, image files and the progress arithmetic, without a port or a
// window; every platform. The file tables make their faulty inputs for real
// (FaultyFiles_*.cpp), with rows for what each platform can be handed.
// test_cores_posix.cpp holds the faults only POSIX calls can make.

#include "FaultyFiles.h"
#include "ScriptedUnit.h"
#include "BackupWriter.h"
#include "ImageFile.h"
#include "SaveTarget.h"
#include "Progress.h"
#include "Protocol.h"
#include "RunTimeError.h"
#include "TestUtil.h"
#include "Testfile.h"
#include "Variabili.h"
#include "Wording.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <optional>

using namespace ImageFile;
using Texts::Key;

Q_DECLARE_METATYPE(Texts::Key)

namespace {
/// Everything in `dir`, hidden and special entries too.
QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
}
QString quoted(const QString &path)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

/// The loaders of the start window, with the language each one chooses.
struct Choice
{
    void (*loader)();
    Texts::Language language;
};
constexpr Choice kChoices[] = {{&Testfile::LoadFrench, Texts::Language::French},
                               {&Testfile::LoadGerman, Texts::Language::German},
                               {&Testfile::LoadEnglish, Texts::Language::English},
                               {&Testfile::LoadItalian, Texts::Language::Italian}};
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
        PlatformFile::setNamedTemporaryFiles(false);
    }

    void cleanup() { Testfile::LoadEnglish(); } // the language the other suites expect

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
        QVERIFY(testutil::writeAll(path, image));
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
        QTest::addColumn<QString>("kind"); // what is planted at x.bio, or "path:NAME" for a name as it stands
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::newRow("folder named like an image") << "folder" << "it is a folder";
        QTest::newRow("file one byte over the cap") << "huge" << "it is larger than 16 MiB";
        QTest::newRow("read-only image") << "readonly" << "";
        if (faulty::kWindows) {
            // Names Windows maps to devices are refused without being opened.
            QTest::newRow("NUL") << "path:NUL" << "it is a device";
            QTest::newRow("CON") << "path:CON" << "it is a device";
            QTest::newRow("COM1 with an extension, in a folder") << "path:C:\\images\\com1.bio" << "it is a device";
            QTest::newRow("\\\\.\\ path") << "path:\\\\.\\NUL" << "it is a device";
            // No device name: only the opened handle's type shows what it is.
            QTest::newRow("Wine's Z:\\dev\\zero (endless valid records)") << "path:Z:\\dev\\zero" << "it is a device";
            QTest::newRow("symbolic link to a good image") << "link:good.bio" << "it is a link";
        } else {
            QTest::newRow("link to /dev/zero (endless valid records)") << "link:/dev/zero" << "it is a device";
            QTest::newRow("FIFO nobody writes to") << "fifo" << "it is a pipe";
            QTest::newRow("/dev/null named directly") << "path:/dev/null" << "it is a device";
            QTest::newRow("link to a good image") << "link:good.bio" << "";
            QTest::newRow("link to itself") << "link:x.bio" << "the name leads round a loop of links";
        }
    }

    // What a file dialog hands over is refused at once, without blocking,
    // unless it is a regular file of a sane size; the thing at the name stays.
    void imageInputsMadeForReal()
    {
        QFETCH(QString, kind);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        QVERIFY(testutil::writeAll(dir.filePath(QStringLiteral("good.bio")), testImage(4)));
        QString path = dir.filePath(QStringLiteral("x.bio"));
        if (kind.startsWith("path:")) {
            path = kind.mid(5);
        } else if (kind == "readonly") {
            QVERIFY(testutil::writeAll(path, testImage(4)));
        }
        if (const QString cannot = faulty::plant(kind, path); !cannot.isEmpty())
            QSKIP(qPrintable(cannot));
        const QString before = faulty::describe(path);
        QString error;
        try {
            QCOMPARE(validateImage(loadImage(path)), Verdict::Accepted);
        } catch (const RunTimeError &e) {
            error = e.description();
        }
        QVERIFY2(refusal.isEmpty() ? error.isEmpty()
                                   : error.startsWith(refusal, Qt::CaseInsensitive)
                                         && error.contains(QDir::toNativeSeparators(path)),
                 qPrintable(error));
        QCOMPARE(faulty::describe(path), before);
    }

    void faultsInEveryLanguage_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<Key>("reason"); // the plain words that lead
        QTest::addColumn<Key>("kind");   // what the name is, for a reason "it is %1"; Count: none
        QTest::addColumn<Key>("what");   // what could not be done, with the path
        QTest::addColumn<int>("system"); // the system's error code, whose message comes last; 0: none, -1: any
        QTest::newRow("missing image file") << "missing-image" << Key::FileMissing << Key::Count << Key::CannotOpenImage << 0;
        QTest::newRow("folder chosen as the image")
            << "folder-image" << Key::NotFileOnDisk << Key::KindFolder << Key::CannotUseAsImage << 0;
        QTest::newRow("image that ends before its end record")
            << "short-image" << Key::EndsBeforeEndRecord << Key::Count << Key::PastEndOfFile << 0;
        QTest::newRow("backup into a missing folder")
            << "missing-folder" << Key::FolderDoesNotExist << Key::Count << Key::CannotSaveBackup << 0;
#ifdef Q_OS_WIN
        QTest::newRow("backup onto a full disk") << "full-disk" << Key::DiskFull << Key::Count << Key::CannotSaveBackup << -1;
#else
        QTest::newRow("image that is a link to itself")
            << "loop-image" << Key::LinkLoop << Key::Count << Key::CannotOpenImage << ELOOP;
        QTest::newRow("backup onto a full disk")
            << "full-disk" << Key::DiskFull << Key::Count << Key::CannotSaveBackup << ENOSPC;
#endif
    }

    // A file fault made for real, once in each language of the start window:
    // the text shown is that language's, reason first, then what could not be
    // done with the path, the system's message last; outside English no
    // English word of ours is left in it.
    void faultsInEveryLanguage()
    {
        QFETCH(QString, fault);
        QFETCH(Key, reason);
        QFETCH(Key, kind);
        QFETCH(Key, what);
        QFETCH(int, system);
        for (const Choice &choice : kChoices) {
            choice.loader();
            QTemporaryDir dir;
            QString path = dir.filePath(QStringLiteral("x.bio"));
            QString error;
            std::optional<faulty::SmallDisk> small;
            try {
                if (fault == "missing-image") {
                    loadImage(path);
                } else if (fault == "folder-image" || fault == "loop-image") {
                    QVERIFY(faulty::plant(fault == "loop-image" ? "link:x.bio" : "folder", path).isEmpty());
                    loadImage(path);
                } else if (fault == "short-image") {
                    QVERIFY(testutil::writeAll(path, testImage(3).left(40)));
                    validateImage(loadImage(path));
                } else if (fault == "missing-folder") {
                    path = dir.filePath(QStringLiteral("no/unit.bak"));
                    SaveTarget().open(path);
                } else if (fault == "full-disk") {
                    small.emplace(dir.path());
                    if (small->path().isEmpty())
                        QSKIP(qPrintable(small->whyNone()));
                    path = small->path() + QStringLiteral("/unit.bak");
                    QVERIFY(faulty::fill(small->path()));
                    SaveTarget target;
                    target.open(path);
                    target.commit(testImage(500), QStringLiteral("/work/k410.bak"));
                }
            } catch (const RunTimeError &e) {
                error = e.description();
            }
            const Texts::Language language = choice.language;
            QString words = Texts::text(reason, language);
            if (kind != Key::Count)
                words = words.arg(Texts::text(kind, language));
            else if (words.contains(QLatin1String("%1")))
                words = words.arg(quoted(QFileInfo(path).absolutePath()));
            words[0] = words[0].toUpper();
            const QString said = Texts::text(Key::ReasonThenWhat, language).arg(words, Texts::text(what, language).arg(quoted(path)));
            QVERIFY2(error.startsWith(said), qPrintable(error));
            QStringList notOurs{quoted(path), quoted(QFileInfo(path).absolutePath())};
            if (fault == "full-disk") {
                const QString kept = Texts::text(Key::KeptInWorkingFile, language).arg(quoted("/work/k410.bak"));
                QVERIFY2(error.contains(QStringLiteral(". ") + kept), qPrintable(error));
                notOurs << quoted("/work/k410.bak");
            }
            if (system > 0) {
                notOurs << qt_error_string(system);
                QVERIFY2(error.endsWith(QStringLiteral(" (%1)").arg(qt_error_string(system))), qPrintable(error));
            } else if (system < 0) {
                QVERIFY2(error.endsWith(QLatin1Char(')')), qPrintable(error));
                error = wording::withoutSystemMessages(error);
            }
            if (language != Texts::Language::English)
                QCOMPARE(wording::englishLeft(error, language, notOurs), QStringList());
        }
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
        BackupWriter::setWorkingDirectory(m_dir.filePath(QStringLiteral("fresh/k410")));
        BackupWriter w;
        w.create();
        const QByteArray image = testImage(3);
        w.append(image.left(16));
        w.append(image.mid(16, 32));
        w.append(image.mid(48, 16));
        w.append(image.right(4));
        w.finish();
        QCOMPARE(w.bytes(), image);
        QCOMPARE(testutil::readAll(BackupWriter::workingFilePath()), image);
        // A second backup empties the working file and the memory first.
        w.create();
        w.append("abc");
        w.finish();
        QCOMPARE(testutil::readAll(BackupWriter::workingFilePath()), QByteArray("abc"));
        QCOMPARE(w.bytes(), QByteArray("abc"));
    }

    void workingFileMadeForReal_data()
    {
        QTest::addColumn<QString>("kind"); // what is planted at the working file's name
        QTest::addColumn<bool>("created");
        QTest::newRow("folder at the name") << "folder" << false;
        QTest::newRow("read-only file at the name") << "readonly" << true;
        QTest::newRow("link to another file planted") << "link:victim" << true;
    }

    // Whatever is at the working file's name is never opened or followed: a
    // link or a read-only file gives way to a fresh regular file, a folder is
    // refused; the file a link led to keeps its bytes.
    void workingFileMadeForReal()
    {
        QFETCH(QString, kind);
        QFETCH(bool, created);
        QTemporaryDir top;
        const QString dir = top.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        BackupWriter::setWorkingDirectory(dir);
        const QString name = BackupWriter::workingFilePath();
        QVERIFY(testutil::writeAll(dir + QStringLiteral("/victim"), "precious"));
        if (const QString cannot = faulty::plant(kind, name); !cannot.isEmpty())
            QSKIP(qPrintable(cannot));

        const QString error = faulty::backupError(testImage(2));
        QVERIFY2(error.isEmpty() == created, qPrintable(error));
        if (created) { // on disk: a fresh regular file with the backup, writable again
            QCOMPARE(faulty::describe(name), QStringLiteral("file %1 rw").arg(testImage(2).size()));
            QCOMPARE(testutil::readAll(name), testImage(2));
        } else {
            QVERIFY2(error.contains(QDir::toNativeSeparators(name))
                         && error.startsWith("a folder is in the way", Qt::CaseInsensitive),
                     qPrintable(error));
            QVERIFY(QFileInfo(name).isDir()); // left alone
        }
        QCOMPARE(testutil::readAll(dir + QStringLiteral("/victim")), QByteArray("precious"));
    }

    void savePathRefusedBeforeBackup_data()
    {
        QTest::addColumn<QString>("kind"); // what is at the chosen path unit.bak, or "path:NAME"
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing folder") << "missing" << "the folder";
        QTest::newRow("folder") << "folder" << "it is a folder";
        QTest::newRow("read-only file") << "readonly" << "the file is read-only";
        if (faulty::kWindows) {
            QTest::newRow("NUL") << "path:NUL" << "it is a device";
            QTest::newRow("COM1 with an extension, in a folder") << "path:C:\\k410\\COM1.bak" << "it is a device";
        } else {
            QTest::newRow("link to /dev/null") << "link:/dev/null" << "it is a device";
            QTest::newRow("FIFO") << "fifo" << "it is a pipe";
            QTest::newRow("link to itself") << "link:unit.bak" << "the name leads round a loop of links";
            QTest::newRow("read-only file system") << "readonly-disk" << "the disk is read-only";
        }
    }

    // A path that cannot take the backup is refused when the save target is
    // opened, i.e. right after the save dialog; nothing at the path changes.
    void savePathRefusedBeforeBackup()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        std::optional<faulty::SmallDisk> readOnly;
        if (kind == "readonly-disk") {
            readOnly.emplace(dir.path(), true);
            if (readOnly->path().isEmpty())
                QSKIP(qPrintable(readOnly->whyNone()));
        }
        QString path = dir.filePath(QStringLiteral("unit.bak"));
        if (kind == "missing")
            path = dir.filePath(QStringLiteral("no/such/unit.bak"));
        else if (kind.startsWith("path:"))
            path = kind.mid(5);
        if (const QString cannot = kind == "missing" || readOnly ? QString() : faulty::plant(kind, path);
            !cannot.isEmpty())
            QSKIP(qPrintable(cannot));
        if (kind == "readonly" && QFileInfo(path).isWritable())
            QSKIP("this user may write a read-only file (root): nothing to refuse");
        const QStringList before = entries(dir.path());
        const QString was = faulty::describe(path);
        SaveTarget target;
        QString error;
        try {
            target.open(path);
        } catch (const RunTimeError &e) {
            error = e.description();
        }
        QVERIFY2(error.startsWith(reason, Qt::CaseInsensitive) && error.contains(QDir::toNativeSeparators(path)),
                 qPrintable(error));
        QVERIFY(!target.isOpen());
        QCOMPARE(entries(dir.path()), before);
        QCOMPARE(faulty::describe(path), was);
        if (kind == "readonly")
            QCOMPARE(testutil::readAll(path), QByteArray("precious"));
    }

    void fullFileSystemKeepsOldBackup_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<int>("roomLeft");   // bytes left free on the small disk
        QTest::addColumn<bool>("sizeLimit"); // a file size limit instead of a full disk
        QTest::addColumn<bool>("named");     // the temporary file has a name while it is written
        QTest::newRow("over an old backup, disk full") << true << 0 << false << false;
        QTest::newRow("new name, 4 KB left: write cut short") << false << 4096 << false << false;
        if (!faulty::kWindows) {
            QTest::newRow("over an old backup, file size limit") << true << 0 << true << false;
            // As on a file system that cannot make a file without a name (FUSE).
            QTest::newRow("new name, 4 KB left, temporary file with a name") << false << 4096 << false << true;
        }
    }

    // The disk fills up while the backup is saved. The old backup at the path
    // keeps every byte, no temporary, empty or partial file is left, and the
    // message says why first, then where the working copy is.
    void fullFileSystemKeepsOldBackup()
    {
        QFETCH(bool, existing);
        QFETCH(int, roomLeft);
        QFETCH(bool, sizeLimit);
        QFETCH(bool, named);
        PlatformFile::setNamedTemporaryFiles(named);
        QTemporaryDir top;
        std::optional<faulty::SmallDisk> small;
        if (!sizeLimit) {
            small.emplace(top.path());
            if (small->path().isEmpty())
                QSKIP(qPrintable(small->whyNone()));
        }
        const QString dir = sizeLimit ? top.path() : small->path();
        const QString path = dir + QStringLiteral("/unit.bak");
        if (existing)
            QVERIFY(testutil::writeAll(path, "OLD BACKUP"));
        if (!sizeLimit) // fill the file system to the last byte
            QVERIFY(faulty::fill(dir, roomLeft));
        const QStringList before = entries(dir);

        SaveTarget target;
        target.open(path); // a file can still be created: only its data will not fit
        const QByteArray backup = testImage(500); // 8 KB
        QString error;
        {
            std::optional<faulty::FileSizeLimit> limit;
            if (sizeLimit)
                limit.emplace(4096);
            if (limit && !limit->whyNone().isEmpty())
                QSKIP(qPrintable(limit->whyNone()));
            try {
                target.commit(backup, QStringLiteral("/work/k410.bak"));
            } catch (const RunTimeError &e) {
                error = e.description();
            }
        }
        QVERIFY2(error.startsWith(sizeLimit ? "the file is larger than this disk or the system allows" : "the disk is full",
                                  Qt::CaseInsensitive),
                 qPrintable(error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(QStringLiteral("/work/k410.bak"))), qPrintable(error));
        QCOMPARE(QFile::exists(path), existing);
        QCOMPARE(testutil::readAll(path), existing ? QByteArray("OLD BACKUP") : QByteArray());
        QCOMPARE(entries(dir), before); // no temporary, no empty new name
    }
};

int runCoreTests(int argc, char **argv)
{
    TestCores t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_cores.moc"
