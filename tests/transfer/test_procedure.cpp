// The Start button's procedure end to end, against a scripted port and unit:
// the bytes on the wire, the files on disk, the window's texts and controls,
// and which of the three endings is reached.

#include "ProcedureRig.h"
#include "RunRecord.h"
#include "BackupWriter.h"
#include "Protocol.h"
#include "RunTimeError.h"
#include "ScriptedUnit.h"
#include "StartProcedure.h"
#include "TestUtil.h"
#include "Testfile.h"
#include "Variabili.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace Variabili;
using namespace std::chrono_literals;

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

enum Phase { LinkPhase, ReadPhase, UploadPhase, OversizedFirstBlock, EndBlockAndFiveBytes, BackupClosingPhase, ErasePhase, DownloadPhase, ClosingPhase };

} // namespace

class TestProcedure : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_save, m_image;

    QString writeImage(const QByteArray &bytes)
    {
        QFile f(m_image);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return m_image;
    }
    QString backupText() const { return strBackUpActive + "     (" + m_save + ")"; }
    QString upgradeText() const { return strUpgrActive + "     (" + m_image + ")"; }

    void checkNormalEnding(const Rig &r, const QString &status)
    {
        QVERIFY(!r.pump.budgetExceeded);
        QCOMPARE(r.view.status, status);
        QVERIFY(!r.port.PortOpen());
        QVERIFY(!r.view.barVisible);
        QCOMPARE(r.view.value, 0.0f);
        QVERIFY(!r.view.captionVisible);
        QVERIFY(!r.view.pictures);
        QCOMPARE(bytMode, quint8(0));
        QVERIFY(strFerma.isEmpty());
        QVERIFY(!r.view.startVisible);
        QVERIFY(!r.view.startEnabled);
        QVERIFY(!r.view.navigation && !r.view.modeFrame);
        QVERIFY(!r.view.errorVisible);
    }

    void checkErrorEnding(const Rig &r)
    {
        QCOMPARE(r.view.instruction, strIstrMode);
        QVERIFY(r.view.navigation && r.view.modeFrame && r.view.optionsCleared);
        QVERIFY(r.view.startEnabled && !r.view.startVisible);
        QVERIFY(!r.view.pictures);
        QVERIFY(!r.port.PortOpen());
        QVERIFY(r.view.errorVisible);
    }

private slots:
    void initTestCase()
    {
        m_save = m_dir.filePath(QStringLiteral("unit.bak"));
        m_image = m_dir.filePath(QStringLiteral("new.bio"));
    }

    void init()
    {
        Testfile::LoadEnglish();
        strFerma.clear();
        bytMode = 1;
        intComPort = 2;
        ImageFile::BackupWriter::setWorkingDirectory(m_dir.filePath(QStringLiteral("work")));
        QFile::remove(m_save);
        QFile::remove(m_image);
    }

    void backupAndUpgrade()
    {
        Rig r;
        const QByteArray firmware = testImage(55, "OLD!");
        const QByteArray image = testImage(60, "NEW!");
        r.unit.firmware = firmware;
        r.unit.ignoredLinkRequests = 3; // switched on a little after the first request: once it
                                        // answered, one more request goes out on a quiet line
        r.view.dialog.FileName = QStringLiteral("previous.bio");
        r.view.dialog.answers = {m_save, writeImage(image)};
        FakeView atOpen;
        bool portOpenAtOpen = false;
        r.view.dialog.onShow = [&] { atOpen = r.view; portOpenAtOpen = r.port.PortOpen(); };
        r.run();
        checkNormalEnding(r, strUpgrDone);
        QCOMPARE(readFile(m_save), firmware);
        QCOMPARE(readFile(ImageFile::BackupWriter::workingFilePath()), firmware);
        QCOMPARE(r.unit.firmware, image);
        // After "B" the image goes out as it is: its records, the end record, the trailer.
        QCOMPARE(r.wire(), QByteArray(5, 0x05) + "A" + QByteArray(55 + 2, 0x06) + "\x05" "B" + image);
        QCOMPARE(r.port.Settings(), QStringLiteral("19200,N,8,1"));
        QCOMPARE(r.port.CommPort(), qint16(2));
        QCOMPARE(r.port.opens, 1);
        QCOMPARE(r.view.statuses, (QStringList{strLinking, backupText(), strBiosSaved, strLinking, strErasing, upgradeText(), strUpgrDone}));
        QCOMPARE(r.view.instruction, strIstrPowerOn);
        QVERIFY(r.view.statusPlaced);
        QCOMPARE(r.view.steps, 56 + 61);
        QCOMPARE(r.view.caption, QStringLiteral("803 byte 1%")); // 61 steps: just above 1%

        QCOMPARE(r.view.dialog.shown.size(), 2);
        const FakeDialog::Shown save = r.view.dialog.shown[0], open = r.view.dialog.shown[1];
        QCOMPARE(save.kind + save.title + "|" + save.fileName, "save" + strSaveTitle + "|previous.bio");
        QCOMPARE(save.filter, QStringLiteral("File bak (*.bak)|*.bak|File bio (*.bio)|*.bio"));
        QCOMPARE(open.kind + open.title + "|" + open.fileName, "open" + strOpenTitle + "|");
        QCOMPARE(open.filter, QStringLiteral("File bio (*.bio)|*.bio|File bak (*.bak)|*.bak"));

        // At the open dialog (the backup saved): "Bios saved", display reset, port still open.
        QCOMPARE(atOpen.status, strBiosSaved);
        QVERIFY(!atOpen.barVisible && !atOpen.captionVisible);
        QCOMPARE(atOpen.value, 0.0f);
        QCOMPARE(atOpen.caption, QStringLiteral("0%"));
        QVERIFY(portOpenAtOpen && atOpen.pictures);
    }

    void upgradeAlone_data()
    {
        QTest::addColumn<int>("records");
        QTest::newRow("60 records") << 60;
        QTest::newRow("20-byte image") << 0;
    }

    void upgradeAlone()
    {
        QFETCH(int, records);
        Rig r;
        bytMode = 2;
        r.unit.firmware = testImage(5, "OLD!");
        const QByteArray image = testImage(records, "TRLR");
        r.view.dialog.answers = {writeImage(image)};
        r.run();
        checkNormalEnding(r, strUpgrDone);
        QCOMPARE(r.unit.firmware, image);
        QCOMPARE(r.wire(), "\x05" "B" + image);
        QCOMPARE(r.view.dialog.shown.size(), 1);
        QCOMPARE(r.view.dialog.shown[0].kind, QStringLiteral("open"));
        QCOMPARE(r.view.statuses, (QStringList{strLinking, strErasing, upgradeText(), strUpgrDone}));
        QCOMPARE(r.view.steps, records + 1);
    }

    void damagedImage_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("Upgrade") << 2;
        QTest::newRow("Backup + Upgrade") << 1;
    }

    // Nothing of the upgrade is sent; a backup made before is saved.
    void damagedImage()
    {
        QFETCH(int, mode);
        Rig r;
        bytMode = quint8(mode);
        const QByteArray firmware = testImage(4);
        r.unit.firmware = firmware;
        QByteArray image = testImage(6);
        image[3 * 16 + 2] = char(image[3 * 16 + 2] + 1);
        r.view.dialog.answers = {m_save, writeImage(image)};
        if (mode == 2)
            r.view.dialog.answers.removeFirst();
        r.run();
        QCOMPARE(r.view.status, strFileDamaged);
        QCOMPARE(bytMode, quint8(mode));
        QVERIFY(!r.port.PortOpen() && !r.view.pictures && !r.view.captionVisible && !r.view.navigation);
        QVERIFY(!r.view.startVisible && !r.view.startEnabled);
        QCOMPARE(r.unit.firmware, firmware);
        QVERIFY(!r.wire().contains('B'));
        if (mode == 2)
            QVERIFY(r.port.writes.isEmpty());
        else
            QCOMPARE(readFile(m_save), firmware);
    }

    void errorEndings_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("answers"); // "SAVE", "IMAGE", a name, or null = cancel
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("failOpen");
        QTest::addColumn<QString>("fragment");
        QTest::addColumn<bool>("nothingSent");
        const QByteArray good = testImage(3);
        QTest::newRow("port held") << 2 << QStringList{"IMAGE"} << good << true << "COM2" << true;
        QTest::newRow("save cancelled") << 1 << QStringList{QString()} << good << false << "Cancel was selected" << true;
        QTest::newRow("open cancelled") << 2 << QStringList{QString()} << good << false << "Cancel was selected" << true;
        QTest::newRow("open cancelled after backup") << 1 << QStringList{"SAVE", QString()} << good << false << "Cancel was selected" << false;
        QTest::newRow("empty image") << 2 << QStringList{"IMAGE"} << QByteArray() << false << "new.bio" << true;
        QTest::newRow("image without end record") << 2 << QStringList{"IMAGE"} << good.left(40) << false << "new.bio" << true;
        QTest::newRow("trailer of 2 bytes") << 2 << QStringList{"IMAGE"} << good.chopped(2) << false << "new.bio" << true;
        QTest::newRow("no such image") << 2 << QStringList{"/no/such/file.bio"} << good << false << "file.bio" << true;
        QTest::newRow("empty image name") << 2 << QStringList{""} << good << false << "no file name" << true;
        QTest::newRow("save folder missing") << 1 << QStringList{"/no/such/dir/unit.bak", "IMAGE"} << good << false << "does not exist" << true;
        QTest::newRow("save path is a folder") << 1 << QStringList{"/", "IMAGE"} << good << false << "it is a folder" << true;
        QTest::newRow("image is a device") << 2 << QStringList{"/dev/zero"} << good << false << "it is a device" << true;
    }

    // Back to the mode step, the description in the error box, the unit never erased.
    void errorEndings()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, answers);
        QFETCH(QByteArray, image);
        QFETCH(bool, failOpen);
        QFETCH(QString, fragment);
        QFETCH(bool, nothingSent);
        Rig r;
        bytMode = quint8(mode);
        const QByteArray firmware = testImage(4);
        r.unit.firmware = firmware;
        if (failOpen)
            r.port.failOpen(2, kErrPortAlreadyOpen);
        writeImage(image);
        for (QString &a : answers)
            a = a == "SAVE" ? m_save : a == "IMAGE" ? m_image : a;
        r.view.dialog.answers = answers;
        r.view.status = QStringLiteral("before");
        r.run();
        checkErrorEnding(r);
        QVERIFY2(r.view.error.contains(fragment, Qt::CaseInsensitive), qPrintable(r.view.error));
        QCOMPARE(bytMode, quint8(mode));
        QCOMPARE(r.unit.firmware, firmware);
        QVERIFY(!r.wire().contains('B'));
        QCOMPARE(r.port.writes.isEmpty(), nothingSent);
        QVERIFY(!r.view.statuses.contains(strBiosSaved) || QFile::exists(m_save));
        QVERIFY(!r.view.statuses.contains(strUpgrDone));
    }

    // Records the unit refuses are sent again and do not count again.
    void recordRejected()
    {
        Rig r;
        bytMode = 2;
        const QByteArray image = testImage(8);
        r.unit.firmware = testImage(1);
        r.unit.rejectRecordOnce = {2, 5};
        r.view.dialog.answers = {writeImage(image)};
        r.run();
        checkNormalEnding(r, strUpgrDone);
        QCOMPARE(r.unit.firmware, image);
        const auto rec = [&](int i) { return image.mid(16 * i, 16); };
        QCOMPARE(r.wire(), "\x05" "B" + rec(0) + rec(1) + rec(2) + rec(2) + rec(3) + rec(4) + rec(5) + rec(5)
                               + image.mid(16 * 6));
        QCOMPARE(r.view.statuses, (QStringList{strLinking, strErasing, upgradeText(), strFileDamaged, strUpgrDone}));
        QCOMPARE(r.view.steps, 9);
    }

    void corruptBackupBlock_data()
    {
        QTest::addColumn<int>("block");
        QTest::newRow("first block (17 bytes)") << 0;
        QTest::newRow("fifth block") << 4;
    }

    // Answered 0x15, not stored; the repetition arrives as 16 bytes.
    void corruptBackupBlock()
    {
        QFETCH(int, block);
        Rig r;
        const QByteArray firmware = testImage(10);
        r.unit.firmware = firmware;
        r.unit.corruptBlockOnce = block;
        r.view.dialog.answers = {m_save, writeImage(testImage(2))};
        r.run();
        checkNormalEnding(r, strUpgrDone);
        QCOMPARE(readFile(m_save), firmware);
        QCOMPARE(r.wire().left(2 + 12), "\x05" "A" + QByteArray(1 + block, 0x06) + "\x15" + QByteArray(10 - block, 0x06));
        QCOMPARE(r.unit.blocksSent, 12);
        QCOMPARE(r.view.steps, 12 + 3);
    }

    void closingAnswers_data()
    {
        QTest::addColumn<int>("naks");
        QTest::addColumn<QByteArray>("stray");
        QTest::newRow("0x15: start again") << 1 << QByteArray();
        QTest::newRow("0x15 twice") << 2 << QByteArray();
        QTest::newRow("other answer ignored") << 0 << QByteArray("\x07");
    }

    void closingAnswers()
    {
        QFETCH(int, naks);
        QFETCH(QByteArray, stray);
        Rig r;
        bytMode = 2;
        const QByteArray image = testImage(30);
        r.unit.firmware = testImage(1);
        r.unit.nakTrailers = naks;
        r.unit.strayTrailerAnswer = stray;
        r.view.dialog.answers = {writeImage(image)};
        r.run();
        checkNormalEnding(r, strUpgrDone);
        QCOMPARE(r.unit.firmware, image);
        QCOMPARE(r.unit.restarts, naks);
        QCOMPARE(r.wire(), ("\x05" "B" + image).repeated(naks + 1));
        QCOMPARE(r.view.caption, QStringLiteral("0 byte 0%")); // the bar starts again from 0
        QCOMPARE(r.view.steps, 31 * (naks + 1));
    }

    void stopPendingAtStart_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("dialogs");
        QTest::newRow("Backup + Upgrade: after the save dialog") << 1 << 1;
        QTest::newRow("Upgrade: during the validation") << 2 << 1;
    }

    void stopPendingAtStart()
    {
        QFETCH(int, mode);
        QFETCH(int, dialogs);
        Rig r;
        bytMode = quint8(mode);
        r.unit.firmware = testImage(3);
        r.view.dialog.answers = {mode == 1 ? m_save : writeImage(testImage(3))};
        strFerma = kFerma;
        r.run();
        checkNormalEnding(r, strTransferBroken);
        QVERIFY(r.port.writes.isEmpty());
        QCOMPARE(r.view.dialog.shown.size(), dialogs);
        QVERIFY(!QFile::exists(m_save));
    }

    void stopInPhase_data()
    {
        QTest::addColumn<int>("phase");
        QTest::newRow("link exchange") << int(LinkPhase);
        QTest::newRow("read request") << int(ReadPhase);
        QTest::newRow("block upload") << int(UploadPhase);
        QTest::newRow("first block of 18 bytes") << int(OversizedFirstBlock);
        QTest::newRow("end block with 5 bytes behind it") << int(EndBlockAndFiveBytes);
        QTest::newRow("backup closing") << int(BackupClosingPhase);
        QTest::newRow("erase request") << int(ErasePhase);
        QTest::newRow("record download") << int(DownloadPhase);
        QTest::newRow("upgrade closing") << int(ClosingPhase);
    }

    // The exchange is abandoned at once: nothing more is sent, nothing saved.
    void stopInPhase()
    {
        QFETCH(int, phase);
        Rig r;
        const QByteArray firmware = testImage(12);
        const QByteArray image = testImage(20);
        r.unit.firmware = firmware;
        const bool backup = phase <= BackupClosingPhase;
        bytMode = backup ? 1 : 2;
        r.view.dialog.answers = {writeImage(image)};
        if (backup)
            r.view.dialog.answers.prepend(m_save);
        using S = ScriptedUnit::State;
        std::function<bool()> reached;
        switch (phase) {
        case LinkPhase: r.unit.ignoredLinkRequests = 1 << 30; reached = [] { return true; }; break;
        case ReadPhase: r.unit.answerRead = false; reached = [&] { return r.port.writes.size() >= 3; }; break;
        case UploadPhase: reached = [&] { return r.unit.blocksSent == 6; }; break;
        case OversizedFirstBlock: r.unit.firstBlockLead = "\x3A\x3B"; reached = [&] { return r.unit.blocksSent > 0; }; break;
        case EndBlockAndFiveBytes: // one take: no correct unit sends more than the 4 trailer bytes
            r.unit.firmware = testImage(12, "TRLR+");
            r.pump.tick = 16ms;
            reached = [&] { return r.unit.state == S::AwaitBackupAck; };
            break;
        case BackupClosingPhase: r.unit.sendTrailer = false; reached = [&] { return r.unit.state == S::AwaitBackupAck; }; break;
        case ErasePhase: r.unit.answerErase = false; reached = [&] { return r.wire().endsWith('B'); }; break;
        case DownloadPhase: reached = [&] { return r.unit.recordsAccepted == 10; }; break;
        case ClosingPhase: r.unit.answerTrailer = false; reached = [&] { return r.unit.state == S::AwaitTrailer; }; break;
        }
        // Silent phases wait a while first; running ones stop as soon as reached.
        const int delay = phase == UploadPhase || phase == DownloadPhase ? 1 : 20;
        int after = 0;
        qsizetype sentAtStop = -1;
        r.pump.onPass = [&] {
            if (sentAtStop < 0 && (after > 0 || reached()) && ++after == delay) {
                strFerma = kFerma;
                sentAtStop = r.port.writes.size();
            }
        };
        r.run();
        checkNormalEnding(r, strTransferBroken);
        QCOMPARE(r.port.writes.size(), sentAtStop);
        QVERIFY(!QFile::exists(m_save));
        if (phase == UploadPhase || phase == OversizedFirstBlock || phase == EndBlockAndFiveBytes) {
            const QByteArray partial = readFile(ImageFile::BackupWriter::workingFilePath());
            QCOMPARE(partial, firmware.left(phase == UploadPhase ? 5 * 16 : phase == OversizedFirstBlock ? 0 : 12 * 16));
        }
        if (!backup) // erased once "B" was answered, never completed
            QCOMPARE(r.unit.firmware == firmware, phase == ErasePhase);
        QVERIFY(r.unit.firmware != image);
    }

    void imageRewrittenAfterCheck_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("naks"); // restarts asked for by the unit
        QTest::newRow("as the erase starts") << "erase" << 0;
        QTest::newRow("half-way through the records") << "records" << 0;
        QTest::newRow("before a restart after 0x15") << "restart" << 1;
    }

    // Another program rewrites the image once it has been checked: the unit
    // still gets exactly the bytes that were checked, restarts included.
    void imageRewrittenAfterCheck()
    {
        QFETCH(QString, when);
        QFETCH(int, naks);
        Rig r;
        bytMode = 2;
        const QByteArray checked = testImage(20, "GOOD");
        QByteArray other = testImage(20, "EVIL");
        other[5 * 16 + 1] = char(other[5 * 16 + 1] ^ 0x10); // damaged, too
        r.unit.firmware = testImage(1);
        r.unit.nakTrailers = naks;
        r.view.dialog.answers = {writeImage(checked)};
        bool rewritten = false;
        r.pump.onPass = [&] {
            const bool due = when == "erase"     ? r.wire().endsWith('B')
                           : when == "records" ? r.unit.recordsAccepted == 10
                                               : r.unit.restarts == 1;
            if (due && !rewritten)
                rewritten = testutil::writeAll(m_image, other);
        };
        r.run();
        checkNormalEnding(r, strUpgrDone);
        QVERIFY(rewritten);
        QCOMPARE(r.unit.firmware, checked);
        QCOMPARE(r.wire(), ("\x05" "B" + checked).repeated(naks + 1));
        QCOMPARE(readFile(m_image), other); // on disk: the other program's bytes
    }

    // Someone who can reach the working file rewrites it during the backup:
    // the chosen file still gets the bytes the unit sent.
    void backupSavedFromMemory()
    {
        Rig r;
        const QByteArray firmware = testImage(30);
        r.unit.firmware = firmware;
        r.view.dialog.answers = {m_save, writeImage(testImage(2))};
        const QString work = ImageFile::BackupWriter::workingFilePath();
        r.pump.onPass = [&] {
            if (r.unit.blocksSent > 10)
                testutil::writeAll(work, "planted");
        };
        r.run();
        checkNormalEnding(r, strUpgrDone);
        QCOMPARE(readFile(m_save), firmware);
        QCOMPARE(readFile(work), QByteArray("planted")); // on disk: the planted bytes, never copied
    }

    // A unit that answers its first link request late answers the repeated one
    // too. That second 0x06 must not pass for the answer to "B": no record may
    // reach the unit before it has finished erasing. The answer that ends the
    // exchange is the one to a request sent on a quiet line.
    void lateLinkAnswerNotTakenForErase()
    {
        Rig r;
        bytMode = 2;
        r.unit.firmware = testImage(1);
        r.unit.lateFirstLinkAnswer = 7; // > 20 ms of passes: a second 0x05 goes out
        const QByteArray image = testImage(3);
        r.view.dialog.answers = {writeImage(image)};
        r.run();
        checkNormalEnding(r, strUpgrDone);
        QCOMPARE(r.wire().left(4), QByteArray(3, 0x05) + "B");
        QCOMPARE(r.unit.bytesDuringErase, 0);
        QCOMPARE(r.unit.firmware, image);
    }

    // While the unit is silent, link requests leave 20 ms for the answer. Once
    // it answered (here two 0x06 in one take), no request goes out until
    // nothing has been sent or received for a whole answer window; two 0x06
    // after "B" are not the erase answer, so no record goes out.
    void linkRequestsPaced()
    {
        Rig r;
        bytMode = 2;
        r.unit.firmware = testImage(1);
        r.unit.ignoredLinkRequests = 5;
        r.unit.doubleAckLinks = 1;
        r.view.dialog.answers = {writeImage(testImage(2))};
        r.run();
        checkNormalEnding(r, strUpgrDone);
        QCOMPARE(r.wire().left(8), QByteArray(7, 0x05) + "B");
        for (int i = 1; i < 6; ++i) {
            const auto gap = r.writeTimes[i] - r.writeTimes[i - 1];
            QVERIFY2(gap >= 20ms && gap <= 24ms, qPrintable(QString::number(gap.count())));
        }
        QVERIFY(r.writeTimes[6] - r.writeTimes[5] >= Protocol::ANSWER_WINDOW);

        Rig doubled;
        bytMode = 2;
        doubled.unit.firmware = testImage(1);
        doubled.unit.eraseAnswer = QByteArrayLiteral("\x06\x06");
        doubled.pump.budget = 3000;
        doubled.view.dialog.answers = {writeImage(testImage(2))};
        doubled.run();
        QVERIFY(doubled.pump.budgetExceeded); // stopped, as by Exit
        QCOMPARE(doubled.view.status, strTransferBroken);
        QCOMPARE(doubled.wire(), QByteArray("\x05" "B"));
    }

    // The unit's answers grouped as an adapter groups them (one take per tick,
    // or as listed), from a tick holding two link answers to the erase answer
    // arriving with a late link answer: Backup + Upgrade completes, exact.
    void adapterGroupings_data()
    {
        QTest::addColumn<int>("tickMs");
        QTest::addColumn<int>("records");           // 0: the first block is the end record
        QTest::addColumn<QList<QByteArray>>("read"); // takes answering "A" (none: 0x06, then 0x05)
        QTest::addColumn<QByteArray>("erase");
        const QByteArray ack("\x06");
        QTest::newRow("tick 16: end block and trailer in one take") << 16 << 5 << QList<QByteArray>() << ack;
        QTest::newRow("tick 16: first block is the end record") << 16 << 0 << QList<QByteArray>() << ack;
        QTest::newRow("tick 40: two link answers in every take") << 40 << 3 << QList<QByteArray>() << ack;
        QTest::newRow("06 05") << 0 << 3 << QList<QByteArray>{"\x06\x05"} << ack;
        QTest::newRow("06 06 05") << 0 << 3 << QList<QByteArray>{"\x06\x06\x05"} << ack;
        QTest::newRow("06, then 06 05") << 0 << 3 << QList<QByteArray>{"\x06", "\x06\x05"} << ack;
        QTest::newRow("06 06, then 05") << 0 << 3 << QList<QByteArray>{"\x06\x06", "\x05"} << ack;
    }

    void adapterGroupings()
    {
        QFETCH(int, tickMs);
        QFETCH(int, records);
        Rig r;
        r.unit.firmware = testImage(records, "OLD!");
        QFETCH(QList<QByteArray>, read);
        r.unit.readAnswer = read;
        QFETCH(QByteArray, erase);
        r.unit.eraseAnswer = erase;
        r.pump.tick = std::chrono::milliseconds(tickMs);
        r.view.dialog.answers = {m_save, writeImage(testImage(4, "NEW!"))};
        r.run();
        checkNormalEnding(r, strUpgrDone);
        QCOMPARE(readFile(m_save), testImage(records, "OLD!"));
        QCOMPARE(r.unit.firmware, testImage(4, "NEW!"));
        QCOMPARE(r.unit.bytesDuringErase, 0);
    }

    // The run record: after each kind of ending, the entry read back field by
    // field (file sizes and SHA-256 sums worked out here), as the service desk
    // would read it.
    void runRecord_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("ending");
        QTest::newRow("Backup + Upgrade, complete") << 1 << "" << "complete";
        QTest::newRow("Upgrade, stopped in the download") << 2 << "stop" << "stopped";
        QTest::newRow("Upgrade, image missing") << 2 << "missing" << "error 53: ";
        QTest::newRow("Upgrade, damaged image") << 2 << "damaged" << "damaged image, nothing sent";
    }

    void runRecord()
    {
        QFETCH(int, mode);
        QFETCH(QString, fault);
        QFETCH(QString, ending);
        QFile::remove(RunRecord::path());
        Rig r;
        bytMode = quint8(mode);
        const QByteArray firmware = testImage(3, "OLD!");
        QByteArray image = testImage(4, "NEW!");
        if (fault == QLatin1String("damaged"))
            image[16 + 15] = char(image[16 + 15] ^ 1);
        r.unit.firmware = firmware;
        r.view.dialog.answers = {fault == QLatin1String("missing") ? m_dir.filePath("none.bio") : writeImage(image)};
        if (mode == 1)
            r.view.dialog.answers.prepend(m_save);
        if (fault == QLatin1String("stop"))
            r.pump.onPass = [&r] {
                if (r.unit.recordsAccepted == 2)
                    strFerma = kFerma;
            };
        r.run();

        const QByteArray raw = readFile(RunRecord::path());
#ifdef Q_OS_WIN
        QVERIFY(raw.contains("\r\n")); // Notepad's line ends
#endif
        const QString log = QString::fromUtf8(raw).remove(QLatin1Char('\r'));
        const QStringList entries = log.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
        QCOMPARE(entries.size(), 1);
        const QStringList lines = entries[0].split(QLatin1Char('\n'));
        const auto field = [&lines](const QString &label) {
            for (const QString &line : lines)
                if (line.startsWith(QStringLiteral("  ") + label))
                    return line.mid(label.size() + 2);
            return QStringLiteral("<none>");
        };
        QVERIFY2(lines[0].endsWith(QStringLiteral("  k410-bios 1.00  English")), qPrintable(lines[0]));
        QVERIFY(QDateTime::fromString(lines[0].section(QLatin1Char(' '), 0, 0), Qt::ISODate).isValid());
        const QString kind = mode == 1 ? QStringLiteral("Backup + Upgrade") : QStringLiteral("Upgrade");
        QVERIFY2(field(kind + " on COM2").contains(QStringLiteral(" at 19200,N,8,1, ")), qPrintable(lines[1]));
        const auto facts = [](const QString &path, const QByteArray &bytes) {
            return QStringLiteral(" %1, %2 bytes, SHA-256 %3")
                .arg(QDir::toNativeSeparators(path), QString::number(bytes.size()),
                     QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
        };
        QCOMPARE(field("Image:"), fault == QLatin1String("missing") ? QStringLiteral("<none>") : facts(m_image, image));
        QCOMPARE(field("Backup:"), mode == 1 ? facts(m_save, firmware) : QStringLiteral("<none>"));
        const QString records = field("Records sent: ");
        if (fault.isEmpty())
            QVERIFY2(records.startsWith(QStringLiteral("5; line errors: 0; answer per record: ")), qPrintable(records));
        else if (fault == QLatin1String("stop"))
            QVERIFY2(records.startsWith(QStringLiteral("2; line errors: 0")), qPrintable(records));
        else
            QCOMPARE(records, QStringLiteral("<none>"));
        QVERIFY2(field("Ended: ").startsWith(ending), qPrintable(field("Ended: ")));
        QVERIFY(!log.contains(QString::fromLatin1(firmware.left(13).toHex()))); // never the firmware's bytes
    }

    // The record stays under its size: a full one becomes the older file (the
    // one before that is dropped). A record that cannot be written (a folder
    // at its name) changes nothing of the run.
    void runRecordKeptSmallAndNeverInTheWay()
    {
        const QString older = RunRecord::path() + QStringLiteral(".1");
        QVERIFY(testutil::writeAll(older, "oldest"));
        const QByteArray full(int(RunRecord::kMaxBytes) - 100, 'x');
        QVERIFY(testutil::writeAll(RunRecord::path(), full));
        bytMode = 2;
        const QByteArray image = testImage(2);
        Rig r;
        r.unit.firmware = testImage(1);
        r.view.dialog.answers = {writeImage(image)};
        r.run();
        QCOMPARE(readFile(older), full);
        const QByteArray now = readFile(RunRecord::path());
        QVERIFY(now.size() < 2000 && now.contains("Ended: complete"));

        QVERIFY(QFile::remove(RunRecord::path()));
        QVERIFY(QDir().mkpath(RunRecord::path()));
        bytMode = 2;
        Rig blocked;
        blocked.unit.firmware = testImage(1);
        blocked.view.dialog.answers = {writeImage(image)};
        blocked.run();
        checkNormalEnding(blocked, strUpgrDone);
        QCOMPARE(blocked.unit.firmware, image);
        QVERIFY(QFileInfo(RunRecord::path()).isDir() && QDir(RunRecord::path()).isEmpty());
        QVERIFY(QDir().rmdir(RunRecord::path()));
    }

    // The hint about an adapter's timer comes when the unit's answers take well
    // over the line time of a record, and not for a quick link.
    void adapterHint_data()
    {
        QTest::addColumn<int>("meanUs");
        QTest::addColumn<bool>("hint");
        QTest::newRow("pseudo-terminal") << 100 << false;
        QTest::newRow("the line alone") << 8900 << false;
        QTest::newRow("1 ms adapter") << 9600 << false;
        QTest::newRow("16 ms adapter, timer from the answer") << 17000 << true;
        QTest::newRow("16 ms adapter, timer from each byte") << 25000 << true;
    }

    void adapterHint()
    {
        QFETCH(int, meanUs);
        QFETCH(bool, hint);
        const QString text = RunRecord::adapterHint(std::chrono::microseconds(meanUs));
        QCOMPARE(!text.isEmpty(), hint);
        if (hint)
            QVERIFY(text.contains(QStringLiteral("Latency Timer")) && text.contains(QStringLiteral("1 ms")));
    }
};

int runProcedureTests(int argc, char **argv)
{
    TestProcedure t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_procedure.moc"
