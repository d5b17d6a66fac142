// The faults only POSIX calls can make, on a PC that several people use and
// where the tool runs as root: another user who plants links and swaps
// folders, folders open to everyone, a home of someone else's, full small
// disks. Rows that need a second user or a small disk make them for real when
// the suite runs as root and skip, saying so, otherwise. Not built on
// Windows; test_cores.cpp holds the tables both platforms run.

#include "FaultyFiles.h"
#include "BackupWriter.h"
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

const QByteArray kFirmware = testImage(30, "OLD!");

bool makeFolder(const QString &path, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::mkdir(name.constData(), 0700) == 0 && ::chmod(name.constData(), mode) == 0;
}

/// Everything in `dir`, sorted, hidden entries too.
QStringList entries(const QString &dir)
{
    QStringList all = QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
    all.sort();
    return all;
}

/// Backup + Upgrade of a unit holding kFirmware into `savePath`, then `image`.
void runBackup(Rig &r, const QString &savePath, const QString &image)
{
    bytMode = 1;
    intComPort = 2;
    if (r.unit.firmware.isEmpty())
        r.unit.firmware = kFirmware;
    r.view.dialog.answers = {savePath, image};
    r.run();
}

/// Puts HOME back and removes what a row made in root's own home, on every way out.
struct RootsHome
{
    QStringList made; // deepest last
    const QByteArray home = qgetenv("HOME");
    ~RootsHome()
    {
        for (auto it = made.crbegin(); it != made.crend(); ++it)
            QFileInfo(*it).isDir() ? QDir().rmdir(*it) : QFile::remove(*it);
        qputenv("HOME", home);
    }
};

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
        m_image = m_top.filePath(QStringLiteral("new.bio"));
        QVERIFY(testutil::writeAll(m_image, testImage(3, "NEW!")));
        // Others reach what the rows make below it, as on a real disk.
        QVERIFY(::chmod(QFile::encodeName(m_top.path()).constData(), 0755) == 0);
    }
    void init()
    {
        strFerma.clear();
        BackupWriter::setWorkingDirectory(m_top.filePath(QStringLiteral("work")));
    }

    void workingFolder_data()
    {
        QTest::addColumn<QString>("kind"); // the folder named for the working file, as found
        QTest::addColumn<bool>("inside");  // the working file goes into a private folder made inside it
        QTest::newRow("missing: made private") << "missing" << false;
        QTest::newRow("a 0700 folder of ours: used as it is") << "0700" << false;
        QTest::newRow("a shared 1777 folder: left as it is") << "1777" << true;
        QTest::newRow("a 0755 folder of ours: left as it is") << "0755" << true;
        QTest::newRow("0777 folder, FIFO at the file's name with a listener") << "fifo" << true;
        QTest::newRow("the private folder's name taken by another user: refused") << "taken" << true;
        QTest::newRow("root with a technician's HOME, then the technician") << "home" << false;
    }

    // Checked before the unit is asked for anything; a folder that was there
    // already keeps its mode; nothing is made in someone else's home, and the
    // technician's own run works after root's.
    void workingFolder()
    {
        QFETCH(QString, kind);
        QFETCH(bool, inside);
        std::optional<LocalUser> someone;
        if (kind == "taken" || kind == "home")
            someone.emplace();
        if (someone && !someone->isValid())
            QSKIP(qPrintable(someone->whyNone()));
        QTemporaryDir top;
        const QString save = top.filePath(QStringLiteral("save")), dir = top.filePath(QStringLiteral("work"));
        const QString own = dir + QLatin1Char('/') + PlatformFile::WorkingFolder::privateFolderName();
        QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0 && makeFolder(save, 01777));
        if (kind != "missing" && kind != "home")
            QVERIFY(makeFolder(dir, kind == "1777" ? 01777 : kind == "0755" ? 0755 : kind == "0700" ? 0700 : 0777));
        const QByteArray fifo = QFile::encodeName(dir + QStringLiteral("/k410.bak"));
        const int listener = kind == "fifo" && ::mkfifo(fifo.constData(), 0666) == 0
                                 ? ::open(fifo.constData(), O_RDONLY | O_NONBLOCK) : -1;
        QVERIFY((kind == "fifo") == (listener >= 0)); // someone waiting for the firmware
        if (kind == "taken") {
            LocalUser::Acting as(*someone);
            QVERIFY(as.ok() && makeFolder(own, 0700));
        }
        RootsHome roots;
        const QString home = top.filePath(QStringLiteral("home"));
        QString used = kind == "missing" || kind == "0700" ? dir : own;
        if (kind == "home") {
            QVERIFY(makeFolder(home, 0755) && someone->give(home));
            used = PlatformFile::WorkingFolder::folderFor(QString::fromLocal8Bit(::getpwuid(0)->pw_dir)
                                                          + QStringLiteral("/.cache/k410-bios"));
            if (QFile::exists(used + QStringLiteral("/k410.bak")))
                QSKIP("root has a working copy of its own here, which a test does not overwrite");
            for (QString at = used; !QFileInfo::exists(at); at = QFileInfo(at).path())
                roots.made.prepend(at);
            roots.made << used + QStringLiteral("/k410.bak");
            qputenv("HOME", QFile::encodeName(home));
            BackupWriter::setWorkingDirectory(QString());
        } else {
            BackupWriter::setWorkingDirectory(dir);
        }
        const QString modeBefore = ownerAndMode(dir);
        const QStringList before = entries(dir);

        Rig r;
        runBackup(r, save + QStringLiteral("/unit.bak"), m_image);

        if (kind == "taken") { // nothing asked of the unit; their folder as it was
            QVERIFY(r.port.writes.isEmpty());
            QVERIFY2(r.view.error.startsWith("The folder") && r.view.error.contains(someone->name()), qPrintable(r.view.error));
            QCOMPARE(ownerAndMode(own), QStringLiteral("%1:%2 0700").arg(someone->uid()).arg(someone->gid()));
            QVERIFY(entries(own).isEmpty());
            return;
        }
        QVERIFY2(r.view.error.isEmpty(), qPrintable(r.view.error));
        QCOMPARE(readAll(save + QStringLiteral("/unit.bak")), kFirmware);
        QCOMPARE(readAll(used + QStringLiteral("/k410.bak")), kFirmware);
        QCOMPARE(ownerAndMode(used), QStringLiteral("0:0 0700"));
        if (kind != "missing" && kind != "home") { // the folder found, as it was
            // The working copy and the run record, or the private folder holding both.
            QStringList expected = QStringList(before) << QFileInfo(inside ? own : used + "/k410.bak").fileName();
            if (!inside)
                expected << QStringLiteral("k410-bios.log");
            expected.sort();
            QCOMPARE(ownerAndMode(dir), modeBefore);
            QCOMPARE(entries(dir), expected);
        }
        if (listener >= 0) { // not a byte reached the pipe, which is still there
            char got[64];
            QCOMPARE(::read(listener, got, sizeof got), ssize_t(0));
            ::close(listener);
            QVERIFY(QFileInfo(QString::fromLocal8Bit(fifo)).exists() && !QFileInfo(QString::fromLocal8Bit(fifo)).isFile());
        }
        if (kind == "home") {
            QVERIFY(entries(home).isEmpty()); // nothing of root's in the technician's home
            LocalUser::Acting as(*someone);
            QVERIFY(as.ok());
            Rig technician;
            runBackup(technician, save + QStringLiteral("/theirs.bak"), m_image);
            QVERIFY2(technician.view.error.isEmpty(), qPrintable(technician.view.error));
            QCOMPARE(readAll(home + QStringLiteral("/.cache/k410-bios/k410.bak")), kFirmware);
            QCOMPARE(ownerAndMode(home + QStringLiteral("/.cache/k410-bios")),
                     QStringLiteral("%1:%2 0700").arg(someone->uid()).arg(someone->gid()));
        }
    }

    void savePlaceOnSharedPc_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("chosen folder swapped for a link to root's folder during the backup") << "swap";
        QTest::newRow("link to root's 0600 file planted by another user in a shared folder") << "planted";
        QTest::newRow("root's own link in a shared folder: followed") << "own link";
        QTest::newRow("another user's file in a shared folder: replaced, owner kept") << "their file";
    }

    // Root saves where another user can reach: the backup lands only in the
    // folder and the file chosen, never in a file of root's that someone else
    // pointed the name at, and nothing lies beside it afterwards.
    void savePlaceOnSharedPc()
    {
        QFETCH(QString, kind);
        LocalUser other;
        if (!other.isValid())
            QSKIP(qPrintable(other.whyNone()));
        QTemporaryDir top;
        const QString rootDir = top.filePath(QStringLiteral("rootdir")), secret = rootDir + QStringLiteral("/unit.bak");
        const QString shared = top.filePath(QStringLiteral("shared")), drop = top.filePath(QStringLiteral("pub/drop"));
        QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0);
        QVERIFY(makeFolder(rootDir, 0700) && makeFolder(shared, 01777) && makeFolder(top.filePath("pub"), 0755)
                && makeFolder(drop, 0755) && other.give(top.filePath("pub")) && other.give(drop));
        QVERIFY(testutil::writeAll(secret, "ROOT'S OWN") && QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
        const QString chosen = (kind == "swap" ? drop : shared) + QStringLiteral("/unit.bak");
        if (kind == "planted") {
            LocalUser::Acting as(other);
            QVERIFY(as.ok() && QFile::link(secret, chosen));
        }
        QVERIFY(kind != "own link" || QFile::link(secret, chosen));
        QVERIFY(kind != "their file" || (testutil::writeAll(chosen, "THEIRS") && other.give(chosen)));
        const QString theirs = ownerAndMode(chosen);

        Rig r;
        bool swapped = false;
        r.pump.onPass = [&] { // another user renames the folder away and puts a link to root's in its place
            if (kind != "swap" || swapped || r.unit.blocksSent != 5)
                return;
            LocalUser::Acting as(other);
            swapped = as.ok() && QDir().rename(drop, drop + ".old") && QFile::link(rootDir, drop);
        };
        runBackup(r, chosen, m_image);

        QCOMPARE(readAll(secret), kind == "own link" ? kFirmware : QByteArray("ROOT'S OWN"));
        QCOMPARE(ownerAndMode(secret), QStringLiteral("0:0 0600"));
        QCOMPARE(entries(rootDir), QStringList{"unit.bak"});
        if (kind == "planted") { // refused before the unit was asked; the link left alone
            QVERIFY(r.port.writes.isEmpty() && QFileInfo(chosen).isSymLink());
            QVERIFY2(r.view.error.startsWith(QStringLiteral("It is a link that another user (%1)").arg(other.name())),
                     qPrintable(r.view.error));
            return;
        }
        QCOMPARE(r.view.status, strUpgrDone);
        if (kind == "swap") { // in the folder chosen, under its new name, and the error box says where
            QVERIFY(swapped);
            QCOMPARE(entries(drop + ".old"), QStringList{"unit.bak"});
            QCOMPARE(readAll(drop + QStringLiteral(".old/unit.bak")), kFirmware);
            QVERIFY2(r.view.error.startsWith("The folder") && r.view.error.contains("drop.old"), qPrintable(r.view.error));
            return;
        }
        QVERIFY2(r.view.error.isEmpty(), qPrintable(r.view.error));
        QCOMPARE(entries(shared), QStringList{"unit.bak"});
        QCOMPARE(QFileInfo(chosen).isSymLink(), kind == "own link");
        QCOMPARE(readAll(chosen), kFirmware);
        QVERIFY(kind != "their file" || ownerAndMode(chosen) == theirs);
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
        const QString folder = work + QStringLiteral("/k410"), chosen = save + QStringLiteral("/unit.bak");
        QVERIFY(QDir().mkpath(work) && QDir().mkpath(save));
        faulty::SmallDisk workDisk(work);
        if (workDisk.path().isEmpty())
            QSKIP(qPrintable(workDisk.whyNone()));
        std::optional<faulty::SmallDisk> saveDisk;
        if (saveFull)
            saveDisk.emplace(save);
        QVERIFY(makeFolder(folder, 0700) && testutil::writeAll(chosen, "OLD BACKUP"));
        QVERIFY(faulty::fill(work, workRoom) && (!saveFull || faulty::fill(save)));
        BackupWriter::setWorkingDirectory(folder);
        const QStringList before = entries(save);

        Rig r;
        const QByteArray firmware = r.unit.firmware = testImage(2000); // 32 KB, more than the room left
        runBackup(r, chosen, m_image);

        const qint64 copied = QFileInfo(folder + QStringLiteral("/k410.bak")).size();
        QVERIFY2(copied < firmware.size() && (copied > 0) == (workRoom > 0), qPrintable(QString::number(copied)));
        QCOMPARE(entries(save), before);
        QCOMPARE(readAll(chosen), saveFull ? QByteArray("OLD BACKUP") : firmware);
        QCOMPARE(r.view.status == strUpgrDone, !saveFull);
        const QString said = saveFull ? ": cannot save the backup to" : ": cannot write the working file";
        const QString then = saveFull ? "kept nowhere" : QStringLiteral("saved to \"%1\" from memory").arg(chosen);
        QVERIFY2(r.view.error.startsWith("The disk is full") && r.view.error.contains(said) && r.view.error.contains(then),
                 qPrintable(r.view.error));
    }
};

int runPosixFaultTests(int argc, char **argv)
{
    TestPosixFaults t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_cores_posix.moc"
