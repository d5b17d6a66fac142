// The faults only POSIX calls can make, on a PC that several people use and
// where the tool runs as root: another user who plants links and swaps
// folders, folders open to everyone, a home of someone else's, full small
// disks. The rows that need a second user or a small disk make them for real
// when the suite runs as root and skip, saying so, otherwise. Not built on
// Windows; test_cores.cpp holds the tables both platforms run.

#include "FaultyFiles.h"
#include "ImageFile.h"
#include "LocalUser.h"
#include "ProcedureRig.h"
#include "TestUtil.h"
#include "Testfile.h"
#include "Variabili.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ImageFile;
using namespace Variabili;
using testutil::LocalUser;
using testutil::ownerAndMode;
using testutil::readAll;

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

bool makeFolder(const QString &path, mode_t mode)
{
    return ::mkdir(native(path).constData(), 0700) == 0 && ::chmod(native(path).constData(), mode) == 0;
}

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
}

const QByteArray kFirmware = testImage(30, "OLD!");

/// Backup + Upgrade into `savePath`, the image `imagePath`: the unit holds kFirmware.
void prepare(Rig &r, const QString &savePath, const QString &imagePath)
{
    bytMode = 1;
    intComPort = 2;
    r.unit.firmware = kFirmware;
    r.view.dialog.answers = {savePath, imagePath};
}

/// Removes what a test made in root's own home, and puts HOME back, on
/// every way out.
struct MadeInRootsHome
{
    QStringList made; // deepest last
    const QByteArray home = qgetenv("HOME");
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    ~MadeInRootsHome()
    {
        for (auto it = made.crbegin(); it != made.crend(); ++it)
            QFileInfo(*it).isDir() ? QDir().rmdir(*it) : QFile::remove(*it);
        qputenv("HOME", home);
        if (!cache.isEmpty())
            qputenv("XDG_CACHE_HOME", cache);
    }
};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestPosixFaults : public QObject
{
    Q_OBJECT
    QTemporaryDir m_top;
    QString m_image;

private slots:
    void initTestCase()
    {
        Testfile::LoadEnglish();
        // Others must reach the folders made below it, as on a real disk.
        QVERIFY(::chmod(native(m_top.path()).constData(), 0755) == 0);
        m_image = m_top.filePath(QStringLiteral("new.bio"));
        QVERIFY(testutil::writeAll(m_image, testImage(3, "NEW!")));
    }
    void init()
    {
        strFerma.clear();
        BackupWriter::setWorkingDirectory(m_top.filePath(QStringLiteral("work")));
    }

    void workingFolder_data()
    {
        QTest::addColumn<QString>("kind");    // the folder named for the working file, as found
        QTest::addColumn<bool>("inside");     // the working file goes into a private folder made inside it
        QTest::addColumn<QString>("refusal"); // the run ends with it before the unit is asked; empty: saved
        QTest::newRow("missing: made private") << "missing" << false << "";
        QTest::newRow("a 0700 folder of ours: used as it is") << "0700" << false << "";
        QTest::newRow("a shared 1777 folder: left as it is") << "1777" << true << "";
        QTest::newRow("a 0755 folder of ours: left as it is") << "0755" << true << "";
        QTest::newRow("0777 folder, FIFO planted at the file's name, with a listener") << "fifo" << true << "";
        QTest::newRow("the private folder's name taken by another user") << "taken" << true
                                                                        << "The folder";
        QTest::newRow("root with a technician's HOME, then the technician") << "home" << false << "";
    }

    // The working folder is checked before the unit is asked for anything; a
    // folder that was there already keeps its mode; nothing is made in a home
    // of someone else's, and the technician can run the tool after root did.
    void workingFolder()
    {
        QFETCH(QString, kind);
        QFETCH(bool, inside);
        QFETCH(QString, refusal);
        std::optional<LocalUser> other;
        if (kind == "taken" || kind == "home") {
            other.emplace();
            if (!other->isValid())
                QSKIP(qPrintable(other->whyNone()));
        }
        QTemporaryDir top;
        QVERIFY(::chmod(native(top.path()).constData(), 0755) == 0);
        const QString save = top.filePath(QStringLiteral("save"));
        QVERIFY(makeFolder(save, 01777));
        const QString dir = top.filePath(QStringLiteral("work"));
        const QString own = dir + QLatin1Char('/') + PlatformFile::WorkingFolder::privateFolderName();
        const mode_t mode = kind == "1777" ? 01777 : kind == "0755" ? 0755 : kind == "0700" ? 0700 : 0777;
        if (kind != "missing" && kind != "home")
            QVERIFY(makeFolder(dir, mode));
        int listener = -1;
        if (kind == "fifo") {
            QVERIFY(::mkfifo(native(dir + QStringLiteral("/k410.bak")).constData(), 0666) == 0);
            listener = ::open(native(dir + QStringLiteral("/k410.bak")).constData(), O_RDONLY | O_NONBLOCK);
            QVERIFY(listener >= 0); // someone waiting for the firmware
        }
        if (kind == "taken") {
            LocalUser::Acting as(*other);
            QVERIFY(as.ok() && makeFolder(own, 0700));
        }
        MadeInRootsHome cleanUp;
        QString home, rootsPlace;
        if (kind == "home") {
            home = top.filePath(QStringLiteral("home"));
            QVERIFY(makeFolder(home, 0755) && other->give(home));
            rootsPlace = PlatformFile::WorkingFolder::folderFor(QString::fromLocal8Bit(::getpwuid(0)->pw_dir)
                                                                + QStringLiteral("/.cache/k410-bios"));
            if (QFile::exists(rootsPlace + QStringLiteral("/k410.bak")))
                QSKIP("root has a working copy of its own here; a test does not overwrite it");
            for (QString at = rootsPlace; !QFileInfo::exists(at); at = QFileInfo(at).path())
                cleanUp.made.prepend(at);
            cleanUp.made << rootsPlace + QStringLiteral("/k410.bak");
            qputenv("HOME", native(home));
            qunsetenv("XDG_CACHE_HOME");
            qunsetenv("K410_WORKDIR");
            BackupWriter::setWorkingDirectory(QString());
        } else {
            BackupWriter::setWorkingDirectory(dir);
        }
        const QString modeBefore = ownerAndMode(dir);
        const QStringList before = entries(dir);

        Rig r;
        prepare(r, save + QStringLiteral("/unit.bak"), m_image);
        r.run();

        if (!refusal.isEmpty()) { // nothing asked of the unit; their folder as it was
            QVERIFY(r.port.writes.isEmpty());
            QVERIFY2(r.view.error.startsWith(refusal) && r.view.error.contains(other->name()), qPrintable(r.view.error));
            QCOMPARE(ownerAndMode(own), QStringLiteral("%1:%2 0700").arg(other->uid()).arg(other->gid()));
            QVERIFY(entries(own).isEmpty());
            return;
        }
        QVERIFY2(r.view.error.isEmpty(), qPrintable(r.view.error));
        QCOMPARE(readAll(save + QStringLiteral("/unit.bak")), kFirmware);
        const QString used = kind == "home" ? rootsPlace : inside ? own : dir;
        QCOMPARE(readAll(used + QStringLiteral("/k410.bak")), kFirmware);
        QCOMPARE(ownerAndMode(used), QStringLiteral("%1:%2 0700").arg(::geteuid()).arg(::getegid()));
        if (kind != "missing" && kind != "home") { // the folder found is left as it was
            QCOMPARE(ownerAndMode(dir), modeBefore);
            QCOMPARE(sorted(entries(dir)), sorted(QStringList(before) << (inside ? QFileInfo(own).fileName() : "k410.bak")));
        }
        if (listener >= 0) {
            char got[64];
            QCOMPARE(::read(listener, got, sizeof got), ssize_t(0)); // not a byte reached the pipe
            ::close(listener);
            struct stat st {};
            QVERIFY(::lstat(native(dir + QStringLiteral("/k410.bak")).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        }
        if (kind == "home") {
            QVERIFY(entries(home).isEmpty()); // nothing of root's in the technician's home
            // The technician's own run afterwards, with the same HOME.
            LocalUser::Acting as(*other);
            QVERIFY(as.ok());
            Rig technician;
            prepare(technician, save + QStringLiteral("/theirs.bak"), m_image);
            technician.run();
            QVERIFY2(technician.view.error.isEmpty(), qPrintable(technician.view.error));
            QCOMPARE(readAll(home + QStringLiteral("/.cache/k410-bios/k410.bak")), kFirmware);
            QCOMPARE(ownerAndMode(home + QStringLiteral("/.cache/k410-bios")),
                     QStringLiteral("%1:%2 0700").arg(other->uid()).arg(other->gid()));
        }
    }

    void savePlaceOnSharedPc_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("saved");
        QTest::newRow("chosen folder swapped for a link to root's folder during the backup") << "swap" << true;
        QTest::newRow("link to root's 0600 file planted by another user in a shared folder") << "planted" << false;
        QTest::newRow("root's own link in a shared folder: followed") << "own link" << true;
        QTest::newRow("another user's file in a shared folder: replaced, owner kept") << "their file" << true;
    }

    // Root saves where another user can reach: the backup lands only in the
    // folder and the file that were chosen, never in a file of root's that
    // someone else pointed the name at.
    void savePlaceOnSharedPc()
    {
        QFETCH(QString, kind);
        QFETCH(bool, saved);
        LocalUser other;
        if (!other.isValid())
            QSKIP(qPrintable(other.whyNone()));
        QTemporaryDir top;
        QVERIFY(::chmod(native(top.path()).constData(), 0755) == 0);
        const QString rootDir = top.filePath(QStringLiteral("rootdir"));
        const QString secret = rootDir + QStringLiteral("/unit.bak");
        QVERIFY(makeFolder(rootDir, 0700) && testutil::writeAll(secret, "ROOT'S OWN"));
        QVERIFY(::chmod(native(secret).constData(), 0600) == 0);
        const QString shared = top.filePath(QStringLiteral("shared"));
        const QString pub = top.filePath(QStringLiteral("pub")), drop = pub + QStringLiteral("/drop");
        QVERIFY(makeFolder(shared, 01777) && makeFolder(pub, 0755) && makeFolder(drop, 0755));
        QVERIFY(other.give(pub) && other.give(drop));
        const QString chosen = (kind == "swap" ? drop : shared) + QStringLiteral("/unit.bak");
        if (kind == "planted") {
            LocalUser::Acting as(other);
            QVERIFY(as.ok() && QFile::link(secret, chosen));
        } else if (kind == "own link") {
            QVERIFY(QFile::link(secret, chosen));
        } else if (kind == "their file") {
            QVERIFY(testutil::writeAll(chosen, "THEIRS") && other.give(chosen));
        }
        const QString theirsBefore = ownerAndMode(chosen);

        Rig r;
        prepare(r, chosen, m_image);
        bool swapped = false;
        if (kind == "swap") {
            r.pump.onPass = [&] {
                if (swapped || r.unit.blocksSent != 5)
                    return;
                LocalUser::Acting as(other);
                swapped = as.ok() && ::rename(native(drop).constData(), native(drop + ".old").constData()) == 0
                          && QFile::link(rootDir, drop);
            };
        }
        r.run();

        QCOMPARE(readAll(secret), kind == "own link" ? kFirmware : QByteArray("ROOT'S OWN"));
        QCOMPARE(ownerAndMode(secret), QStringLiteral("0:0 0600"));
        QCOMPARE(entries(rootDir), QStringList{"unit.bak"});
        if (!saved) { // refused before the unit was asked; the planted link left alone
            QVERIFY(r.port.writes.isEmpty());
            QVERIFY2(r.view.error.startsWith(QStringLiteral("It is a link that another user (%1)").arg(other.name())),
                     qPrintable(r.view.error));
            QVERIFY(isLink(chosen));
            return;
        }
        QCOMPARE(r.view.status, strUpgrDone);
        if (kind == "swap") { // in the folder chosen, under its new name, and the window says so
            QVERIFY(swapped);
            QCOMPARE(readAll(drop + QStringLiteral(".old/unit.bak")), kFirmware);
            QCOMPARE(entries(drop + QStringLiteral(".old")), QStringList{"unit.bak"});
            QVERIFY2(r.view.error.startsWith(QStringLiteral("The folder")) && r.view.error.contains("drop.old"),
                     qPrintable(r.view.error));
        } else {
            QVERIFY2(r.view.error.isEmpty(), qPrintable(r.view.error));
            QCOMPARE(entries(shared), QStringList{"unit.bak"}); // no temporary file beside it
            QCOMPARE(isLink(chosen), kind == "own link");
            QCOMPARE(readAll(chosen), kFirmware);
            if (kind == "their file")
                QCOMPARE(ownerAndMode(chosen), theirsBefore);
        }
    }

    void workingCopyOnFullDisk_data()
    {
        QTest::addColumn<int>("workRoom");  // bytes left on the working folder's disk
        QTest::addColumn<bool>("saveFull"); // the chosen folder's disk full too
        QTest::newRow("working disk full, the chosen folder has room") << 0 << false;
        QTest::newRow("working disk fills during the backup") << 4096 << false;
        QTest::newRow("both disks full: the old backup kept") << 0 << true;
    }

    // A working copy that cannot be written costs nothing of the backup: it is
    // saved from memory, and the error box says, reason first, that the
    // working copy could not be written.
    void workingCopyOnFullDisk()
    {
        QFETCH(int, workRoom);
        QFETCH(bool, saveFull);
        QTemporaryDir top;
        const QString work = top.filePath(QStringLiteral("work")), save = top.filePath(QStringLiteral("save"));
        QVERIFY(QDir().mkpath(work) && QDir().mkpath(save));
        faulty::SmallDisk workDisk(work);
        if (workDisk.path().isEmpty())
            QSKIP(qPrintable(workDisk.whyNone()));
        std::optional<faulty::SmallDisk> saveDisk;
        if (saveFull)
            saveDisk.emplace(save);
        const QString folder = work + QStringLiteral("/k410");
        QVERIFY(makeFolder(folder, 0700));
        BackupWriter::setWorkingDirectory(folder);
        const QString chosen = save + QStringLiteral("/unit.bak");
        QVERIFY(testutil::writeAll(chosen, "OLD BACKUP"));
        QVERIFY(faulty::fill(work, workRoom) && (!saveFull || faulty::fill(save)));
        const QStringList before = entries(save);

        Rig r;
        prepare(r, chosen, m_image);
        const QByteArray firmware = testImage(2000); // 32 KB, more than the room left
        r.unit.firmware = firmware;
        r.run();

        const qint64 copied = QFileInfo(folder + QStringLiteral("/k410.bak")).size();
        QVERIFY2(copied < firmware.size() && (copied > 0) == (workRoom > 0), qPrintable(QString::number(copied)));
        QCOMPARE(entries(save), before);
        if (saveFull) {
            QVERIFY2(r.view.error.startsWith(QStringLiteral("The disk is full"))
                         && r.view.error.contains(QStringLiteral(": cannot save the backup to"))
                         && r.view.error.contains(QStringLiteral("kept nowhere")),
                     qPrintable(r.view.error));
            QCOMPARE(readAll(chosen), QByteArray("OLD BACKUP"));
            return;
        }
        QCOMPARE(r.view.status, strUpgrDone);
        QCOMPARE(readAll(chosen), firmware);
        QVERIFY2(r.view.error.startsWith(QStringLiteral("The disk is full"))
                     && r.view.error.contains(QStringLiteral(": cannot write the working file"))
                     && r.view.error.contains(QStringLiteral("saved to \"%1\" from memory").arg(chosen)),
                 qPrintable(r.view.error));
    }

    void linkLoopsInPlainWords_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("image name that became a link loop") << false;
        QTest::newRow("save name that is a link loop") << true;
    }

    // Reason first, in plain words, then what could not be done and the path.
    void linkLoopsInPlainWords()
    {
        QFETCH(bool, save);
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a.bak")), b = dir.filePath(QStringLiteral("b.bak"));
        QVERIFY(QFile::link(b, a) && QFile::link(a, b));
        QString error;
        try {
            if (save)
                SaveTarget().open(a);
            else
                loadImage(a);
        } catch (const RunTimeError &e) {
            error = e.description();
        }
        const QString what = save ? QStringLiteral("cannot save the backup to \"%1\"").arg(a)
                                  : QStringLiteral("cannot open the image file \"%1\"").arg(a);
        QVERIFY2(error.startsWith(QStringLiteral("The name leads round a loop of links")) && error.endsWith(what),
                 qPrintable(error));
    }
};

int runPosixFaultTests(int argc, char **argv)
{
    TestPosixFaults t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_cores_posix.moc"
