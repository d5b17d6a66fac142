// k410-flash's commands run in this process against the unit simulator on a
// pseudo-terminal (as port 1), each row checking the exit status, what was
// printed, what reached the unit and what is on disk; then the program itself
// for --help and for Ctrl+C in the middle of a download.

#include "Flash.h"
#include "MSComm.h"
#include "SimUnit.h"
#include "TestUtil.h"
#include "Variabili.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

using testutil::readAll;
using testutil::writeAll;

namespace {

const QStringList kUnitFirmware{"--records", "6", "--seed", "11"};
const QStringList kRelease{"--records", "8", "--seed", "22"};

struct Run
{
    int status = -1;
    QByteArray out, err;
};

/// One command, in this process, with `during` run from the event loop while it goes.
Run flash(const QStringList &args, std::function<bool()> during = {})
{
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    QTimer watch;
    if (during) {
        watch.setInterval(1);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (during())
                watch.stop();
        });
        watch.start();
    }
    Run r;
    r.status = Flash::run(args, out, err, false);
    r.out = out.data();
    r.err = err.data();
    return r;
}

} // namespace

class TestFlash : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_release, m_damaged, m_unitImage, m_file;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        qputenv("K410_WORKDIR", QFile::encodeName(path("work")));
        m_release = path("release.bio");
        m_damaged = path("damaged.bio");
        m_unitImage = path("unit.bio");
        QVERIFY(writeAll(m_release, SimUnit::image(kRelease)));
        QVERIFY(writeAll(m_damaged, SimUnit::image(kRelease, true)));
        QVERIFY(writeAll(m_unitImage, SimUnit::image(kUnitFirmware)));
    }

    void init()
    {
        m_file = path("unit.bak");
        QFile::remove(m_file);
        Variabili::strFerma.clear();
    }

    // Every command against a unit on COM1: status, output, the unit, the disk.
    void commands_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("args");   // IMAGE, DAMAGED, UNIT and FILE stand for the paths
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("printed");    // in the output, or for a failure in the error
        QTest::addColumn<QString>("unitHolds");  // "image", "firmware", or "erased" (not the old firmware)
        QTest::addColumn<QString>("fileHolds");  // "firmware" or "" (nothing at FILE)
        const QStringList unit{"--probe-speed", "110", "--erase-ms", "20"};
        QTest::newRow("ports") << unit << QStringList{"ports"} << 0 << "COM1  DEVICE  can be opened\nCOM2  -  no device"
                               << "firmware" << "";
        QTest::newRow("probe") << unit << QStringList{"probe"} << 0 << "The unit answers on COM1 (DEVICE) at 110,N,8,1"
                               << "firmware" << "";
        QTest::newRow("probe, no unit") << QStringList{"--silent"} << QStringList{"probe", "--port", "1"} << 3
                                        << "no port answered" << "firmware" << "";
        QTest::newRow("check") << unit << QStringList{"check", "IMAGE"} << 0 << "a good image, 8 records, 148 bytes"
                               << "firmware" << "";
        QTest::newRow("check, damaged image") << unit << QStringList{"check", "DAMAGED"} << 5
                                              << "a record fails its checks" << "firmware" << "";
        QTest::newRow("check, no such file") << unit << QStringList{"check", "NONE"} << 6 << "NONE" << "firmware" << "";
        QTest::newRow("backup") << unit << QStringList{"backup", "--port", "1", "FILE"} << 0 << "Backup saved to FILE: 116 bytes"
                                << "firmware" << "firmware";
        QTest::newRow("upgrade with backup") << unit << QStringList{"upgrade", "--port", "1", "--backup", "FILE", "IMAGE"}
                                             << 0 << "Upgrade complete: 9 records sent" << "image" << "firmware";
        QTest::newRow("upgrade, the device named") << unit << QStringList{"upgrade", "--port", "DEVICE", "IMAGE"}
                                                   << 0 << "Upgrade complete" << "image" << "";
        QTest::newRow("upgrade, damaged image") << unit << QStringList{"upgrade", "--port", "1", "DAMAGED"} << 5
                                                << "nothing was sent" << "firmware" << "";
        QTest::newRow("upgrade, port held") << unit << QStringList{"upgrade", "--port", "1", "IMAGE"} << 4
                                            << "Port already open" << "firmware" << "";
        // Each answer 20 ms late, so the stop at the third record comes long before the last.
        QTest::newRow("upgrade, stopped") << unit + QStringList{"--turnaround-us", "20000"} << QStringList{"upgrade", "--port", "1", "IMAGE"} << 8 << "stopped"
                                          << "erased" << "";
        QTest::newRow("verify, same image") << unit << QStringList{"verify", "--port", "1", "UNIT"} << 0
                                            << "The unit holds exactly UNIT" << "firmware" << "";
        QTest::newRow("verify, another image") << unit << QStringList{"verify", "--port", "1", "IMAGE"} << 9
                                               << "differs from record 1" << "firmware" << "";
        QTest::newRow("no port for a transfer") << unit << QStringList{"upgrade", "IMAGE"} << 2 << "needs --port"
                                                << "firmware" << "";
        QTest::newRow("unknown command") << unit << QStringList{"flash", "IMAGE"} << 2 << "unknown command"
                                         << "firmware" << "";
    }

    void commands()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, printed);
        QFETCH(QString, unitHolds);
        QFETCH(QString, fileHolds);
        SimUnit unit(simArgs + kUnitFirmware);
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        testutil::mapPorts({unit.device(), "", "", ""});
        const auto place = [&](QString s) {
            return s.replace("DAMAGED", m_damaged).replace("IMAGE", m_release).replace("UNIT", m_unitImage)
                .replace("NONE", path("none.bio")).replace("FILE", m_file).replace("DEVICE", unit.device());
        };
        for (QString &a : args)
            a = place(a);
        std::unique_ptr<MSComm> holder;
        if (QTest::currentDataTag() == QLatin1String("upgrade, port held")) {
            holder = std::make_unique<MSComm>();
            holder->setCommPort(1);
            holder->setPortOpen(true);
        }
        std::function<bool()> during;
        if (QTest::currentDataTag() == QLatin1String("upgrade, stopped"))
            during = [&unit] {
                if (unit.report().recordsReceived < 3)
                    return false;
                Variabili::strFerma = Variabili::kFerma; // as Ctrl+C does
                return true;
            };

        const Run r = flash(args, during);
        QCOMPARE(r.status, status);
        const QByteArray shown = status == 0 ? r.out : r.err;
        QVERIFY2(shown.contains(place(printed).toUtf8()), (r.out + "\n---\n" + r.err).constData());

        const QByteArray now = unit.firmware();
        if (unitHolds == QLatin1String("image"))
            QCOMPARE(now, readAll(m_release));
        else if (unitHolds == QLatin1String("firmware"))
            QCOMPARE(now, readAll(m_unitImage));
        else
            QVERIFY2(now != readAll(m_unitImage) && now != readAll(m_release), r.err.constData());
        QCOMPARE(readAll(m_file), fileHolds.isEmpty() ? QByteArray() : readAll(m_unitImage));
        if (status == 5 && args[0] == QLatin1String("upgrade"))
            QCOMPARE(unit.number("erase_requests"), 0);
    }

    // --json: one object, each field checked.
    void json()
    {
        SimUnit unit(QStringList{"--erase-ms", "20"} + kUnitFirmware);
        QVERIFY(unit.start());
        testutil::mapPorts({unit.device(), "", "", ""});
        const Run r = flash({"upgrade", "--port", "1", "--backup", m_file, "--json", "--quiet", m_release});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.isEmpty(), r.err.constData());
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(r.out, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(o["command"].toString(), QStringLiteral("upgrade"));
        QCOMPARE(o["port"].toInt(), 1);
        QCOMPARE(o["device"].toString(), unit.device());
        QCOMPARE(o["speed"].toString(), QStringLiteral("19200,N,8,1"));
        const auto sha = [](const QByteArray &b) {
            return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex());
        };
        QCOMPARE(o["image"]["path"].toString(), m_release);
        QCOMPARE(o["image"]["size"].toInt(), readAll(m_release).size());
        QCOMPARE(o["image"]["sha256"].toString(), sha(readAll(m_release)));
        QCOMPARE(o["backup"]["sha256"].toString(), sha(readAll(m_unitImage)));
        QCOMPARE(o["records"].toInt(), 9);
        QVERIFY(o["duration_s"].toDouble() > 0);
        QCOMPARE(o["result"].toString(), QStringLiteral("done"));
        QCOMPARE(o["status"].toInt(), 0);
        QVERIFY(o["error"].isNull());

        const Run bad = flash({"check", "--json", m_damaged});
        const QJsonObject b = QJsonDocument::fromJson(bad.out).object();
        QCOMPARE(bad.status, 5);
        QCOMPARE(b["result"].toString(), QStringLiteral("damaged image"));
        QVERIFY(b["error"]["text"].toString().contains(m_damaged));
    }

    // The power-on instruction in the language asked for.
    void language()
    {
        SimUnit unit(QStringList{"--erase-ms", "20"} + kUnitFirmware);
        QVERIFY(unit.start());
        testutil::mapPorts({unit.device(), "", "", ""});
        const Run r = flash({"upgrade", "--port", "1", "--lang", "de", m_release});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.startsWith("Sollen Sie den K410 Preset einschalten"), r.err.constData());
    }

    // The program itself: --help, and Ctrl+C in the middle of a download ends
    // it with its own status, the port closed and the unit not complete.
    void program()
    {
        QProcess help;
        help.start(QStringLiteral(K410_FLASH), {"--help"});
        QVERIFY(help.waitForFinished(10000));
        QCOMPARE(help.exitCode(), 0);
        QVERIFY(help.readAllStandardOutput().startsWith("Usage: k410-flash COMMAND"));

        SimUnit unit(QStringList{"--erase-ms", "20", "--pace"} + kUnitFirmware);
        QVERIFY(unit.start());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("K410_COM1", unit.device());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(K410_FLASH), {"upgrade", "--port", "1", m_release});
        QVERIFY(unit.waitFor([](const k410sim::SimReport &s) { return s.recordsReceived >= 2; }));
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 8);
        QVERIFY(p.readAllStandardError().contains("k410-flash: stopped"));
        QVERIFY(unit.waitFor([](const k410sim::SimReport &s) { return s.hostHangups == s.hostOpens; }));
        QVERIFY(!unit.report().upgradeCompleted);
    }
};

QTEST_GUILESS_MAIN(TestFlash)
#include "test_flash.moc"
