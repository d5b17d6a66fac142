// Pure cores: the settings string, the event table and its handler, the line
// counters, and the mapping of port numbers onto devices.
#include "CommEvents.h"
#include "FakeViews.h"
#include "LineErrors.h"
#include "LineSettings.h"
#include "MSComm.h"
#include "PortMap.h"
#include "RunTimeError.h"
#include "Variabili.h"

#include <QTest>
#include <memory>
#include <vector>

Q_DECLARE_METATYPE(LineCounters)
Q_DECLARE_METATYPE(DriverErrorCounts)

namespace {

PortMap::PortEntry entry(const QString &path)
{
    return PortMap::PortEntry{path, QString(), QString()};
}

} // namespace

class TestSerialPure : public QObject
{
    Q_OBJECT
private slots:
    void settingsValid_data();
    void settingsValid();
    void settingsInvalid_data();
    void settingsInvalid();

    void eventText_data();
    void eventText();
    void handler_data();
    void handler();

    void lineEvents_data();
    void lineEvents();
    void commErrorFlags_data();
    void commErrorFlags();

    void portMap_data();
    void portMap();
    void windowsPortNames_data();
    void windowsPortNames();
    void portMapEnvironment();
};

void TestSerialPure::settingsValid_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("baud");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("stopTenths");
    const int probeBauds[] = {110, 300, 600, 1200, 2400, 4800, 9600, 19200};
    for (int baud : probeBauds) {
        const QString text = QStringLiteral("%1,N,8,1").arg(baud);
        QTest::newRow(qPrintable(text)) << text << baud << "N" << 8 << 10;
    }
    QTest::newRow("even 7 2") << "256000,E,7,2" << 256000 << "E" << 7 << 20;
    QTest::newRow("odd lower case 5 1.5") << "1200,o,5,1.5" << 1200 << "O" << 5 << 15;
    QTest::newRow("mark 6") << "14400,M,6,1" << 14400 << "M" << 6 << 10;
    QTest::newRow("space") << "57600,s,8,2" << 57600 << "S" << 8 << 20;
}

void TestSerialPure::settingsValid()
{
    QFETCH(QString, text);
    const LineSettings s = LineSettings::parse(text);
    QFETCH(int, baud);
    QCOMPARE(s.baud, baud);
    QFETCH(QString, parity);
    QCOMPARE(QString(QLatin1Char(s.parity)), parity);
    QFETCH(int, data);
    QCOMPARE(s.dataBits, data);
    QFETCH(int, stopTenths);
    QCOMPARE(s.stopBitsTenths, stopTenths);

    // The control reads the string back exactly as written (closed port).
    MSComm comm;
    comm.setSettings(text);
    QCOMPARE(comm.Settings(), text);
}

void TestSerialPure::settingsInvalid_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("speed only") << "9600";
    QTest::newRow("three fields") << "9600,N,8";
    QTest::newRow("odd speed") << "9601,N,8,1";
    QTest::newRow("too slow") << "100,N,8,1";
    QTest::newRow("too fast") << "512000,N,8,1";
    QTest::newRow("parity X") << "9600,X,8,1";
    QTest::newRow("parity twice") << "9600,NN,8,1";
    QTest::newRow("4 data bits") << "9600,N,4,1";
    QTest::newRow("9 data bits") << "9600,N,9,1";
    QTest::newRow("stop 3") << "9600,N,8,3";
    QTest::newRow("stop 1.0") << "9600,N,8,1.0";
    QTest::newRow("inner space") << "9600, N,8,1";
}

void TestSerialPure::settingsInvalid()
{
    QFETCH(QString, text);
    MSComm comm;
    comm.setSettings(QStringLiteral("2400,N,8,1"));
    try {
        comm.setSettings(text);
        QFAIL("accepted an invalid settings string");
    } catch (const RunTimeError &e) {
        QCOMPARE(e.number(), 380);
        QCOMPARE(e.description(), QStringLiteral("Invalid property value"));
    }
    QCOMPARE(comm.Settings(), QStringLiteral("2400,N,8,1"));
}

void TestSerialPure::eventText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    for (int code = 1; code <= 7; ++code)
        QTest::newRow(qPrintable(QStringLiteral("state %1").arg(code))) << code << QString();
    QTest::newRow("1001") << 1001 << "Break error";
    QTest::newRow("1002") << 1002 << "CTS Timeout";
    QTest::newRow("1003") << 1003 << "DSR Timeout";
    QTest::newRow("1004") << 1004 << "Framing error";
    QTest::newRow("1006") << 1006 << "Overrun Error";
    QTest::newRow("1007") << 1007 << "Carrier Detect Timeout";
    QTest::newRow("1008") << 1008 << "Receive Buffer Overflow";
    QTest::newRow("1009") << 1009 << "Parity Error";
    QTest::newRow("1010") << 1010 << "Transmit Buffer Full";
    QTest::newRow("1011") << 1011 << "Error retrieving DCB";
    QTest::newRow("1005") << 1005 << "Unknown error or event";
    QTest::newRow("0") << 0 << "Unknown error or event";
    QTest::newRow("8") << 8 << "Unknown error or event";
    QTest::newRow("1000") << 1000 << "Unknown error or event";
    QTest::newRow("1012") << 1012 << "Unknown error or event";
    QTest::newRow("device lost") << int(CommEvents::comEventDeviceLost)
                                  << "Device lost: the serial device went away (adapter unplugged, or the line closed at its far end)";
    QTest::newRow("negative") << -1 << "Unknown error or event";
}

void TestSerialPure::eventText()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(CommEvents::eventText(code), text);
    QCOMPARE(CommEvents::isIgnored(code), text.isEmpty());
}

void TestSerialPure::handler_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("barVisible");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("stop");
    const QStringList none;
    QTest::newRow("framing, transfer running")
        << 1004 << true << QStringList{"show", "text=Framing error", "stop"} << true;
    QTest::newRow("overrun, transfer running")
        << 1006 << true << QStringList{"show", "text=Overrun Error", "stop"} << true;
    QTest::newRow("1005, transfer running")
        << 1005 << true << QStringList{"show", "text=Unknown error or event", "stop"} << true;
    QTest::newRow("device lost, transfer running")
        << int(CommEvents::comEventDeviceLost) << true
        << QStringList{"show", QStringLiteral("text=") + CommEvents::eventText(CommEvents::comEventDeviceLost), "stop"}
        << true;
    QTest::newRow("framing, no transfer") << 1004 << false << none << false;
    QTest::newRow("parity, no transfer") << 1009 << false << none << false;
    QTest::newRow("CTS change, transfer running") << 3 << true << none << false;
    QTest::newRow("ring, transfer running") << 6 << true << none << false;
    QTest::newRow("EOF, transfer running") << 7 << true << none << false;
    QTest::newRow("send, transfer running") << 1 << true << none << false;
}

void TestSerialPure::handler()
{
    QFETCH(int, code);
    QFETCH(bool, barVisible);
    QFETCH(QStringList, calls);
    QFETCH(bool, stop);
    Variabili::strFerma.clear();
    RecordingEventView view;
    view.visible = barVisible;
    handleCommEvent(qint16(code), view);
    QCOMPARE(view.calls, calls);
    QCOMPARE(Variabili::strFerma, stop ? QStringLiteral("ferma") : QString());
    Variabili::strFerma.clear();
}

void TestSerialPure::lineEvents_data()
{
    QTest::addColumn<LineCounters>("after");
    QTest::addColumn<QList<qint16>>("codes");
    LineCounters c;
    QTest::newRow("nothing moved") << c << QList<qint16>{};
    c = {};
    c.frame = 3;
    QTest::newRow("frame") << c << QList<qint16>{1004};
    c = {};
    c.parity = 1;
    QTest::newRow("parity") << c << QList<qint16>{1009};
    c = {};
    c.overrun = 1;
    QTest::newRow("overrun") << c << QList<qint16>{1006};
    c = {};
    c.bufOverrun = 1;
    QTest::newRow("buffer overrun") << c << QList<qint16>{1008};
    c = {};
    c.brk = 1;
    QTest::newRow("break") << c << QList<qint16>{1001};
    c = {};
    c.txFull = 1;
    QTest::newRow("transmit full") << c << QList<qint16>{1010};
    c = {};
    c.cts = 1;
    c.dsr = 2;
    c.dcd = 1;
    c.ring = 4;
    QTest::newRow("modem lines") << c << QList<qint16>{3, 4, 5, 6};
    c = {};
    c.parity = 2;
    c.brk = 1;
    c.frame = 1;
    QTest::newRow("several, in code order") << c << QList<qint16>{1001, 1004, 1009};
}

void TestSerialPure::lineEvents()
{
    QFETCH(LineCounters, after);
    QFETCH(QList<qint16>, codes);
    // A baseline that is not zero: only the movement counts.
    LineCounters before;
    before.frame = 100;
    before.parity = 7;
    before.cts = 2;
    LineCounters moved = after;
    moved.frame += before.frame;
    moved.parity += before.parity;
    moved.cts += before.cts;
    QCOMPARE(lineEventsBetween(before, moved), codes);
    QCOMPARE(lineEventsBetween(moved, moved), QList<qint16>{});
}

void TestSerialPure::commErrorFlags_data()
{
    using namespace CommErrorFlags;
    QTest::addColumn<QList<quint32>>("words"); // error word of each ClearCommError call, in order
    QTest::addColumn<DriverErrorCounts>("driver"); // the driver's running counts (IOCTL_SERIAL_GET_STATS) after them
    QTest::addColumn<LineCounters>("counts");
    QTest::addColumn<QList<qint16>>("codes");
    QTest::newRow("no flags") << QList<quint32>{0} << DriverErrorCounts{} << LineCounters{} << QList<qint16>{};
    QTest::newRow("break") << QList<quint32>{kBreak} << DriverErrorCounts{} << LineCounters{.brk = 1} << QList<qint16>{1001};
    QTest::newRow("frame") << QList<quint32>{kFrame} << DriverErrorCounts{} << LineCounters{.frame = 1} << QList<qint16>{1004};
    QTest::newRow("overrun") << QList<quint32>{kOverrun} << DriverErrorCounts{} << LineCounters{.overrun = 1} << QList<qint16>{1006};
    QTest::newRow("rx overflow") << QList<quint32>{kRxOver} << DriverErrorCounts{} << LineCounters{.bufOverrun = 1} << QList<qint16>{1008};
    QTest::newRow("parity") << QList<quint32>{kRxParity} << DriverErrorCounts{} << LineCounters{.parity = 1} << QList<qint16>{1009};
    QTest::newRow("tx full") << QList<quint32>{kTxFull} << DriverErrorCounts{} << LineCounters{.txFull = 1} << QList<qint16>{1010};
    // CE_PTO, CE_IOE, CE_DNS, CE_OOP, CE_MODE and unassigned bits have no counter.
    QTest::newRow("other bits") << QList<quint32>{0x9EE0} << DriverErrorCounts{} << LineCounters{} << QList<qint16>{};
    QTest::newRow("frame and parity in one word")
        << QList<quint32>{kFrame | kRxParity} << DriverErrorCounts{} << LineCounters{.frame = 1, .parity = 1} << QList<qint16>{1004, 1009};
    QTest::newRow("every bit")
        << QList<quint32>{0xFFFFFFFFu} << DriverErrorCounts{}
        << LineCounters{.brk = 1, .frame = 1, .overrun = 1, .bufOverrun = 1, .parity = 1, .txFull = 1}
        << QList<qint16>{1001, 1004, 1006, 1008, 1009, 1010};
    // The byte count's calls and the line poll's, interleaved: each word counts once.
    QTest::newRow("repeated calls add up") << QList<quint32>{kFrame, 0, kFrame, kFrame | kBreak, 0} << DriverErrorCounts{}
                                           << LineCounters{.brk = 1, .frame = 3} << QList<qint16>{1001, 1004};
    // Qt's own ClearCommError after a read cleared the flags; the driver counted.
    QTest::newRow("driver: frame") << QList<quint32>{0} << DriverErrorCounts{.frame = 2} << LineCounters{.frame = 2}
                                   << QList<qint16>{1004};
    QTest::newRow("driver: serial overrun") << QList<quint32>{0} << DriverErrorCounts{.overrun = 1}
                                            << LineCounters{.overrun = 1} << QList<qint16>{1006};
    QTest::newRow("driver: buffer overrun") << QList<quint32>{0} << DriverErrorCounts{.bufOverrun = 5}
                                            << LineCounters{.bufOverrun = 5} << QList<qint16>{1008};
    QTest::newRow("driver: parity") << QList<quint32>{0} << DriverErrorCounts{.parity = 1}
                                    << LineCounters{.parity = 1} << QList<qint16>{1009};
    // Flags that our own calls caught and the driver's counts add up.
    QTest::newRow("flags and driver add up")
        << QList<quint32>{kFrame, kBreak | kRxParity} << DriverErrorCounts{.frame = 1, .overrun = 3}
        << LineCounters{.brk = 1, .frame = 2, .overrun = 3, .parity = 1} << QList<qint16>{1001, 1004, 1006, 1009};
}

void TestSerialPure::commErrorFlags()
{
    QFETCH(QList<quint32>, words);
    QFETCH(DriverErrorCounts, driver);
    QFETCH(LineCounters, counts);
    QFETCH(QList<qint16>, codes);
    LineCounters now;
    for (quint32 word : words)
        now = addCommErrorFlags(now, word);
    now = addDriverErrorCounts(now, driver);
    QVERIFY(now == counts); // the modem-line counters included: they never move
    QCOMPARE(lineEventsBetween(LineCounters{}, now), codes);
}

void TestSerialPure::portMap_data()
{
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("overrides"); // per port: "-" unset, else the value
    QTest::addColumn<QStringList>("devices");
    const QStringList unset{"-", "-", "-", "-"};
    QTest::newRow("adapters first")
        << QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB1", "/dev/ttyUSB0", "/dev/ttyACM0"} << unset
        << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyS0"};
    QTest::newRow("natural order") << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyUSB1"} << unset
                                   << QStringList{"/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB10", ""};
    QTest::newRow("built-in ports")
        << QStringList{"/dev/ttyS10", "/dev/ttyS2", "/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS3"} << unset
        << QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"};
    QTest::newRow("other devices last") << QStringList{"/dev/ttyAMA0", "/dev/ttyS0"} << unset
                                        << QStringList{"/dev/ttyS0", "/dev/ttyAMA0", "", ""};
    QTest::newRow("nothing listed") << QStringList{} << unset << QStringList{"", "", "", ""};
    QTest::newRow("variable names a pseudo-terminal")
        << QStringList{"/dev/ttyS0", "/dev/ttyUSB0"} << QStringList{"/dev/pts/7", "-", "-", "-"}
        << QStringList{"/dev/pts/7", "/dev/ttyUSB0", "/dev/ttyS0", ""};
    QTest::newRow("empty variable means no device")
        << QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0"} << QStringList{"-", "", "-", "-"}
        << QStringList{"/dev/ttyUSB0", "", "/dev/ttyS0", "/dev/ttyS1"};
    QTest::newRow("named device not handed out twice")
        << QStringList{"/dev/ttyUSB0", "/dev/ttyS0"} << QStringList{"-", "-", "/dev/ttyUSB0", "-"}
        << QStringList{"/dev/ttyS0", "", "/dev/ttyUSB0", ""};
    QTest::newRow("all named") << QStringList{"/dev/ttyUSB0"}
                               << QStringList{"/dev/pts/1", "/dev/pts/2", "/dev/pts/3", "/dev/pts/4"}
                               << QStringList{"/dev/pts/1", "/dev/pts/2", "/dev/pts/3", "/dev/pts/4"};
}

void TestSerialPure::portMap()
{
    QFETCH(QStringList, listed);
    QFETCH(QStringList, overrides);
    QFETCH(QStringList, devices);
    QList<PortMap::PortEntry> entries;
    for (const QString &path : listed)
        entries << entry(path);
    const auto lookup = [&overrides](int port) -> std::optional<QString> {
        const QString v = overrides.at(port - 1);
        if (v == QLatin1String("-"))
            return std::nullopt;
        return v;
    };
    QCOMPARE(PortMap::assignDevices(entries, lookup), devices);
}

void TestSerialPure::windowsPortNames_data()
{
    QTest::addColumn<QStringList>("overrides"); // per port: "-" unset, else the value
    QTest::addColumn<QStringList>("devices");   // ports 0 to 5
    QTest::newRow("nothing set") << QStringList{"-", "-", "-", "-"}
                                 << QStringList{"", "COM1", "COM2", "COM3", "COM4", ""};
    QTest::newRow("adapter as COM1, COM2 absent")
        << QStringList{"COM7", "", "-", "-"} << QStringList{"", "COM7", "", "COM3", "COM4", ""};
    QTest::newRow("device path kept as given")
        << QStringList{"-", "-", "-", "\\\\.\\COM12"} << QStringList{"", "COM1", "COM2", "COM3", "\\\\.\\COM12", ""};
}

// Windows: COM1 to COM4 unless K410_COMN names another device for port N.
void TestSerialPure::windowsPortNames()
{
    QFETCH(QStringList, overrides);
    QFETCH(QStringList, devices);
    QList<int> asked;
    const auto lookup = [&](int port) -> std::optional<QString> {
        asked << port;
        const QString v = overrides.at(port - 1);
        return v == QLatin1String("-") ? std::nullopt : std::optional<QString>(v);
    };
    for (int port = 0; port <= 5; ++port)
        QCOMPARE(PortMap::windowsDevice(port, lookup), devices.at(port));
    QCOMPARE(asked, (QList<int>{1, 2, 3, 4})); // never asked about a port outside 1 to 4
}

void TestSerialPure::portMapEnvironment()
{
    qputenv("K410_COM1", "/dev/pts/41");
    qputenv("K410_COM2", "");
    qputenv("K410_COM3", "/tmp/k410-three");
    qputenv("K410_COM4", "COM9");
    QCOMPARE(PortMap::deviceForPort(1), QStringLiteral("/dev/pts/41"));
    QCOMPARE(PortMap::deviceForPort(3), QStringLiteral("/tmp/k410-three"));
    QCOMPARE(PortMap::deviceForPort(4), QStringLiteral("COM9"));
    QCOMPARE(PortMap::deviceForPort(5), QString());
    QCOMPARE(PortMap::describePort(1), QStringLiteral("COM1: /dev/pts/41"));
#ifdef Q_OS_WIN
    // Windows removes a variable set to an empty value: port 2 is COM2 again.
    QVERIFY(!PortMap::environmentOverride(2).has_value());
    QCOMPARE(PortMap::deviceForPort(2), QStringLiteral("COM2"));
#else
    QCOMPARE(PortMap::environmentOverride(2), std::optional<QString>(QString()));
    QCOMPARE(PortMap::deviceForPort(2), QString());
    QCOMPARE(PortMap::describePort(2), QStringLiteral("COM2: no serial device"));
#endif
    qunsetenv("K410_COM3");
    QVERIFY(!PortMap::environmentOverride(3).has_value());
#ifdef Q_OS_WIN
    QCOMPARE(PortMap::deviceForPort(3), QStringLiteral("COM3"));
#endif
    for (const char *name : {"K410_COM1", "K410_COM2", "K410_COM4"})
        qunsetenv(name);
}

void addPureSuites(std::vector<std::unique_ptr<QObject>> &suites)
{
    suites.push_back(std::make_unique<TestSerialPure>());
}

#include "tst_pure.moc"
