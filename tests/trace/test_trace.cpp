// The protocol trace: its line format, that it appends and reaches the disk line
// by line, that it stays off (and creates nothing) unless K410_TRACE names a
// file, that a file it cannot open only costs a message; then the real serial
// control, the port test and the transfer over pseudo-terminals, checking the
// bytes, directions, opens, closes and the ending each one writes.

#include "CommControl.h"
#include "EventPump.h"
#include "FakeCommPort.h"
#include "FakeViews.h"
#include "BackupWriter.h"
#include "MSComm.h"
#include "PortTest.h"
#include "PtyPeer.h"
#include "RunTimeError.h"
#include "SimImage.h"
#include "SimUnit.h"
#include "StartProcedure.h"
#include "TestUtil.h"
#include "Testfile.h"
#include "Trace.h"
#include "Variabili.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace std::chrono_literals;
using testutil::mapPorts;
using testutil::pumpUntil;
using testutil::writeAll;

namespace {

const char *const kPortVariables[] = {"K410_COM1", "K410_COM2", "K410_COM3", "K410_COM4"};

/// One line of a trace: its time in microseconds (-1 for a '#' line) and its text.
struct Entry
{
    qint64 us = -1;
    QString text;
};

QList<Entry> readTrace(const QString &path)
{
    QList<Entry> entries;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return entries;
    static const QRegularExpression stamped(QStringLiteral("^ *(\\d+)\\.(\\d{3}) (.*)$"));
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw);
        if (line.isEmpty())
            continue;
        const QRegularExpressionMatch m = stamped.match(line);
        if (m.hasMatch())
            entries.append({m.captured(1).toLongLong() * 1000 + m.captured(2).toLongLong(), m.captured(3)});
        else
            entries.append({-1, line});
    }
    return entries;
}

QStringList texts(const QList<Entry> &entries)
{
    QStringList out;
    for (const Entry &e : entries)
        out << e.text;
    return out;
}

/// Every byte of the lines in one direction ("TX" or "RX"), in order.
QByteArray bytesOf(const QList<Entry> &entries, const QString &direction)
{
    QByteArray bytes;
    for (const Entry &e : entries) {
        if (e.text.startsWith(direction + QLatin1Char(' ')))
            bytes += QByteArray::fromHex(e.text.mid(3).toLatin1());
    }
    return bytes;
}

int indexOf(const QStringList &lines, const QString &prefix, int from = 0)
{
    for (int i = from; i < lines.size(); ++i) {
        if (lines[i].startsWith(prefix))
            return i;
    }
    return -1;
}

/// Redirects this process's stderr into a file for as long as it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(2);
        ::dup2(m_file.handle(), 2);
    }
    ~StderrCapture() { restore(); }
    QByteArray text()
    {
        restore();
        return testutil::readAll(m_file.fileName());
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};

k410sim::SimOptions quickUnit(unsigned records)
{
    k410sim::SimOptions o;
    o.records = records;
    o.seed = 5;
    o.eraseMs = 20;
    o.readyDelayMs = 2;
    o.trailerDelayMs = 5;
    return o;
}

} // namespace

class TestTrace : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_case = 0;

    QString freshPath() { return m_dir.filePath(QStringLiteral("trace-%1.txt").arg(++m_case)); }

private slots:
    void init()
    {
        Trace::close();
        qunsetenv(Trace::kEnvironmentVariable);
        for (const char *name : kPortVariables)
            qunsetenv(name);
        Variabili::strFerma.clear();
    }

    void cleanup()
    {
        Trace::close();
        qunsetenv(Trace::kEnvironmentVariable);
    }

    void lineFormat_data()
    {
        QTest::addColumn<QString>("direction");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("link request") << "TX" << QByteArray("\x05") << "TX 05";
        QTest::newRow("two bytes in one arrival") << "RX" << QByteArray("\x06\x05") << "RX 06 05";
        QTest::newRow("every kind of byte") << "TX" << QByteArray("\x00\x7F\x80\xFF\x0A\x0D", 6)
                                            << "TX 00 7F 80 FF 0A 0D";
        QTest::newRow("a record") << "TX"
                                  << QByteArray::fromHex("0102030405060708090A0B0C0D00")
                                         + QByteArray("\x5B\x07", 2)
                                  << "TX 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 00 5B 07";
        QTest::newRow("free text") << "" << QByteArray("OPEN COM2 (/dev/ttyUSB0) 19200,N,8,1")
                                   << "OPEN COM2 (/dev/ttyUSB0) 19200,N,8,1";
    }

    void lineFormat()
    {
        QFETCH(QString, direction);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const QString path = freshPath();
        QVERIFY(Trace::open(path));
        if (direction == QLatin1String("TX"))
            Trace::sent(bytes);
        else if (direction == QLatin1String("RX"))
            Trace::received(bytes);
        else
            Trace::line(QString::fromLatin1(bytes));
        // Read while the trace is still open: each line is on disk once written,
        // so a killed program leaves a complete trace.
        const QList<Entry> entries = readTrace(path);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[1].text, expected);
        QVERIFY(entries[1].us >= 0);
    }

    void headerClockAndClose()
    {
        const QString path = freshPath();
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY(Trace::open(path));
        QVERIFY(Trace::enabled());
        for (char byte : {'\x05', '\x06', '\x15'})
            Trace::sent(QByteArray(1, byte));
        Trace::close();
        QVERIFY(!Trace::enabled());
        Trace::sent("\x05"); // after the close: nowhere

        const QList<Entry> entries = readTrace(path);
        QCOMPARE(texts(entries).mid(1), QStringList({QStringLiteral("TX 05"), QStringLiteral("TX 06"),
                                                     QStringLiteral("TX 15"), QStringLiteral("# trace closed")}));
        // The wall-clock time of the opening, with its offset from UTC.
        static const QRegularExpression header(
            QStringLiteral("^# k410-bios trace opened (\\S+(?:Z|[+-]\\d\\d:\\d\\d)), pid %1$").arg(QCoreApplication::applicationPid()));
        const QRegularExpressionMatch m = header.match(entries.first().text);
        QVERIFY2(m.hasMatch(), qPrintable(entries.first().text));
        const QDateTime opened = QDateTime::fromString(m.captured(1), Qt::ISODateWithMs);
        QVERIFY(opened >= before && opened <= QDateTime::currentDateTime().addSecs(1));
        // Monotonic time stamps, in the order written.
        for (int i = 1; i < entries.size(); ++i)
            QVERIFY(entries[i].us >= entries[i - 1].us);
    }

    void appendsToWhatIsThere()
    {
        const QString path = freshPath();
        QVERIFY(writeAll(path, "earlier run\n"));
        QVERIFY(Trace::open(path));
        Trace::sent("A");
        QVERIFY(Trace::open(path)); // a second start appends as well
        Trace::sent("B");
        Trace::close();
        const QStringList lines = texts(readTrace(path));
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], QStringLiteral("earlier run"));
        QVERIFY(lines[1].startsWith(QStringLiteral("# k410-bios trace opened ")));
        QCOMPARE(lines[2], QStringLiteral("TX 41"));
        QCOMPARE(lines[3], QStringLiteral("# trace closed"));
        QVERIFY(lines[4].startsWith(QStringLiteral("# k410-bios trace opened ")));
        QCOMPARE(lines[5], QStringLiteral("TX 42"));
        QCOMPARE(lines[6], QStringLiteral("# trace closed"));
    }

    void environment_data()
    {
        QTest::addColumn<bool>("set");
        QTest::addColumn<bool>("named");
        QTest::addColumn<bool>("on");
        QTest::newRow("unset") << false << false << false;
        QTest::newRow("empty") << true << false << false;
        QTest::newRow("names a file") << true << true << true;
    }

    void environment()
    {
        QFETCH(bool, set);
        QFETCH(bool, named);
        QFETCH(bool, on);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("k410.trace"));
        if (set)
            qputenv(Trace::kEnvironmentVariable, named ? QFile::encodeName(path) : QByteArray());
        // A trace that was on before is closed by the new start-up decision.
        QVERIFY(Trace::open(freshPath()));
        QCOMPARE(Trace::openFromEnvironment(), on);
        QCOMPARE(Trace::enabled(), on);
        Trace::sent("\x05");
        Trace::line(QStringLiteral("END transfer normal/complete"));
        QCOMPARE(QFile::exists(path), on);
        if (on)
            QCOMPARE(texts(readTrace(path)).mid(1),
                     QStringList({QStringLiteral("TX 05"), QStringLiteral("END transfer normal/complete")}));
    }

    void fileThatCannotBeOpened()
    {
        const QString path = m_dir.filePath(QStringLiteral("no-such-dir/sub/trace.txt"));
        StderrCapture capture;
        QVERIFY(!Trace::open(path));
        QVERIFY(!Trace::enabled());
        Trace::sent("\x05");
        Trace::received("\x06");
        Trace::line(QStringLiteral("END port test no port"));
        const QByteArray said = capture.text();
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.contains(QFile::encodeName(path)), said.constData());
        QVERIFY(said.contains("carrying on without a trace"));
        QVERIFY(!QFile::exists(path));
    }

    void serialControlOverPty()
    {
        PtyPeer line;
        QVERIFY(!line.slavePath().isEmpty());
        // Named per run: the serial library's lock file is named after the device.
        const QString absent = m_dir.filePath(QStringLiteral("absent-com2"));
        mapPorts({line.slavePath(), absent});
        const QString path = freshPath();
        qputenv(Trace::kEnvironmentVariable, QFile::encodeName(path));
        QVERIFY(Trace::openFromEnvironment());

        MSComm port;
        // A port without a device: the refused open is traced too.
        port.setCommPort(2);
        port.setSettings(QStringLiteral("9600,N,8,1"));
        try {
            port.setPortOpen(true);
            QFAIL("opening a missing device succeeded");
        } catch (const RunTimeError &e) {
            QCOMPARE(e.number(), kErrInvalidPortNumber);
        }

        port.setCommPort(1);
        port.setPortOpen(true);
        port.setOutput(QByteArray("\x05"));
        QCOMPARE(line.take(1), QByteArray("\x05"));
        QVERIFY(line.send(QByteArray("\x06\x05")));
        QVERIFY(pumpUntil([&] { return port.InBufferCount() == 2; }));
        QCOMPARE(port.Input(), QByteArray("\x06\x05"));
        port.setOutput(QByteArray("A\x06"));
        QCOMPARE(line.take(2), QByteArray("A\x06"));
        // Bytes that arrive and are never read are still in the trace.
        QVERIFY(line.send(QByteArray("\x15")));
        QVERIFY(pumpUntil([&] { return port.InBufferCount() == 1; }));
        port.setPortOpen(false);
        Trace::close();

        const QStringList lines = texts(readTrace(path));
        const QString device = QStringLiteral("COM1 (%1)").arg(line.slavePath());
        QCOMPARE(lines.size(), 9);
        QVERIFY(lines[0].startsWith(QStringLiteral("# k410-bios trace opened ")));
        QVERIFY2(lines[1].startsWith(
                     QStringLiteral("OPEN COM2 (%1) 9600,N,8,1 failed: %2 ").arg(absent).arg(kErrInvalidPortNumber)),
                 qPrintable(lines[1]));
        QCOMPARE(lines.mid(2), QStringList({QStringLiteral("OPEN %1 9600,N,8,1").arg(device), QStringLiteral("TX 05"),
                                            QStringLiteral("RX 06 05"), QStringLiteral("TX 41 06"),
                                            QStringLiteral("RX 15"), QStringLiteral("CLOSE %1").arg(device),
                                            QStringLiteral("# trace closed")}));
    }

    void serialControlWithTraceOffCreatesNothing()
    {
        QTemporaryDir dir;
        const QString oldCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        PtyPeer line;
        mapPorts({line.slavePath()});
        QVERIFY(!Trace::openFromEnvironment());
        {
            MSComm port;
            port.setPortOpen(true);
            port.setOutput(QByteArray("\x05"));
            QCOMPARE(line.take(1), QByteArray("\x05"));
            QVERIFY(line.send(QByteArray("\x06")));
            QVERIFY(pumpUntil([&] { return port.InBufferCount() == 1; }));
            QCOMPARE(port.Input(), QByteArray("\x06"));
            port.setPortOpen(false);
        }
        QVERIFY(QDir::setCurrent(oldCurrent));
        QVERIFY(!Trace::enabled());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    void portTestEndings_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("ending");
        QTest::newRow("found") << "found" << "END port test found COM1";
        QTest::newRow("no port") << "none" << "END port test no port";
        QTest::newRow("stopped") << "stop" << "END port test stopped";
    }

    void portTestEndings()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, ending);
        std::unique_ptr<SimUnit> unit;
        if (scenario == QLatin1String("found")) {
            k410sim::SimOptions o = quickUnit(3);
            o.probeSpeed = 2400;
            unit = std::make_unique<SimUnit>(o);
            QVERIFY2(unit->start(), qPrintable(unit->errorText()));
            mapPorts({unit->device(), QString(), QString(), QString()});
        } else {
            mapPorts({QString(), QString(), QString(), QString()});
        }
        if (scenario == QLatin1String("stop"))
            Variabili::strFerma = Variabili::kFerma;

        const QString path = freshPath();
        QVERIFY(Trace::open(path));
        // Short waits at the silent settings; the unit's answer is waited for.
        FakeCommPort port(std::make_unique<MSComm>());
        port.awaitProbeAnswer(1, 2400);
        RecordingView view;
        runPortTest(port, EventPump::instance(), view, testutil::shortProbe());
        Trace::close();
        if (unit)
            unit->stop();

        const QList<Entry> entries = readTrace(path);
        const QStringList lines = texts(entries);
        QCOMPARE(lines.value(1), QStringLiteral("START port test"));
        const int end = lines.indexOf(ending);
        QVERIFY2(end > 1, qPrintable(lines.join(QLatin1Char('\n'))));
        QCOMPARE(indexOf(lines, QStringLiteral("END "), end + 1), -1); // one ending only

        if (scenario == QLatin1String("found")) {
            const QString device = QStringLiteral("COM1 (%1)").arg(unit->device());
            // Each setting up to the unit's: opened, probed, closed; the answer arrives at 2400.
            for (const char *setting : {"110,N,8,1", "300,N,8,1", "600,N,8,1", "1200,N,8,1", "2400,N,8,1"})
                QVERIFY2(lines.contains(QStringLiteral("OPEN %1 %2").arg(device, QLatin1String(setting))), setting);
            QVERIFY(!lines.contains(QStringLiteral("OPEN %1 4800,N,8,1").arg(device)));
            QCOMPARE(bytesOf(entries, QStringLiteral("TX")), QByteArray(5, '\x02'));
            const int lastOpen = lines.lastIndexOf(QStringLiteral("OPEN %1 2400,N,8,1").arg(device));
            QCOMPARE(bytesOf(entries.mid(lastOpen), QStringLiteral("RX")).size(), kProbeAnswerLength);
            QCOMPARE(lines.value(end + 1), QStringLiteral("CLOSE %1").arg(device));
            QCOMPARE(lines.count(QStringLiteral("CLOSE %1").arg(device)), 5);
        } else if (scenario == QLatin1String("none")) {
            for (int n = 1; n <= 4; ++n)
                QVERIFY(indexOf(lines, QStringLiteral("OPEN COM%1 110,N,8,1 failed: %2 ").arg(n).arg(kErrInvalidPortNumber)) > 0);
            QCOMPARE(indexOf(lines, QStringLiteral("TX")), -1);
        } else {
            QCOMPARE(end, 2);
        }
    }

    void transferEndings_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("ending");
        QTest::newRow("upgrade completed") << "ok" << 2 << "END transfer normal/complete";
        QTest::newRow("backup and upgrade completed") << "ok" << 1 << "END transfer normal/complete";
        QTest::newRow("damaged image") << "damaged" << 2 << "END transfer damaged-file ";
        QTest::newRow("unit hangs up") << "hangup" << 2 << "END transfer error ";
        QTest::newRow("stopped while the unit is silent") << "silent" << 2 << "END transfer normal/stopped";
    }

    void transferEndings()
    {
        QFETCH(QString, scenario);
        QFETCH(int, mode);
        QFETCH(QString, ending);
        Testfile::LoadEnglish();
        QTemporaryDir dir;
        ImageFile::BackupWriter::setWorkingDirectory(dir.filePath(QStringLiteral("work")));

        constexpr unsigned kRecords = 6;
        k410sim::SimOptions o = quickUnit(kRecords);
        if (scenario == QLatin1String("hangup"))
            o.hangupAtRecord = 3;
        if (scenario == QLatin1String("silent"))
            o.silentAfterRecord = 2;
        SimUnit unit(o);
        const QByteArray unitFirmware = unit.firmware();
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));

        const QByteArray image = toBytes(k410sim::generateImage(kRecords, 77));
        const QString savePath = dir.filePath(QStringLiteral("unit.bak"));
        const QString openPath = dir.filePath(QStringLiteral("new.bio"));
        FakeView view;
        view.dialog.answers = mode == 1 ? QStringList{savePath, openPath} : QStringList{openPath};
        QVERIFY(writeAll(openPath, scenario == QLatin1String("damaged")
                                       ? toBytes(k410sim::damageImage(k410sim::generateImage(kRecords, 77), kRecords))
                                       : image));
        const QString slave = unit.device();
        mapPorts({QString(), slave});
        Variabili::intComPort = 2;
        Variabili::bytMode = quint8(mode);

        // A silent unit waits for ever: the technician's stop request ends it.
        QTimer stopper;
        QObject::connect(&stopper, &QTimer::timeout, [&unit] {
            if (unit.report().silent)
                Variabili::strFerma = Variabili::kFerma;
        });
        if (scenario == QLatin1String("silent"))
            stopper.start(5);

        const QString path = freshPath();
        QVERIFY(Trace::open(path));
        MSComm port;
        runStartProcedure(port, EventPump::instance(), view);
        Trace::close();
        stopper.stop();
        unit.stop();

        const QList<Entry> entries = readTrace(path);
        const QStringList lines = texts(entries);
        const QString all = lines.join(QLatin1Char('\n'));
        const QString device = QStringLiteral("COM2 (%1)").arg(slave);
        QCOMPARE(lines.value(1), QStringLiteral("START transfer %1 on COM2")
                                     .arg(mode == 1 ? QStringLiteral("backup+upgrade") : QStringLiteral("upgrade")));
        QCOMPARE(lines.value(2), QStringLiteral("OPEN %1 19200,N,8,1").arg(device));
        const int end = indexOf(lines, ending);
        QVERIFY2(end > 2, qPrintable(all));
        QCOMPARE(indexOf(lines, QStringLiteral("END "), end + 1), -1);
        QCOMPARE(indexOf(lines, QStringLiteral("TX "), end), -1); // nothing is sent after the ending
        QVERIFY2(lines.contains(QStringLiteral("CLOSE %1").arg(device)), qPrintable(all));

        const QByteArray tx = bytesOf(entries, QStringLiteral("TX"));
        const QByteArray rx = bytesOf(entries, QStringLiteral("RX"));
        if (scenario == QLatin1String("ok")) {
            // Link requests, "B", then the image exactly as it is on disk.
            const QByteArray download = QByteArray("B") + image;
            QVERIFY(tx.endsWith(download));
            if (mode == 2) {
                const QByteArray before = tx.left(tx.size() - download.size());
                QVERIFY(!before.isEmpty());
                QCOMPARE(before.count('\x05'), before.size());
            } else {
                // The unit's firmware arrives as sent and is what the backup holds.
                QVERIFY(tx.startsWith("\x05"));
                QVERIFY(tx.contains("A"));
                QCOMPARE(testutil::readAll(savePath), unitFirmware);
                QVERIFY(rx.contains(unitFirmware));
            }
            QCOMPARE(rx.right(1), QByteArray("\x06")); // the final answer to the trailer
        } else if (scenario == QLatin1String("damaged")) {
            QCOMPARE(lines[end], QStringLiteral("END transfer damaged-file ") + openPath);
            QCOMPARE(tx, QByteArray()); // nothing reaches the unit from a damaged image
        } else if (scenario == QLatin1String("hangup")) {
            QVERIFY2(lines[end].startsWith(QStringLiteral("END transfer error %1 ").arg(kErrDeviceLost)), qPrintable(all));
            QVERIFY(lines[end].endsWith(view.error));
            // Two records were answered before the line went dead.
            QVERIFY(tx.contains(image.mid(0, 2 * 16)));
        } else {
            QVERIFY(tx.contains(image.mid(0, 2 * 16)));
            QVERIFY(!tx.contains(image.mid(0, 4 * 16)));
        }
    }
};

QTEST_GUILESS_MAIN(TestTrace)
#include "test_trace.moc"
