// Backup + Upgrade through every kind of link a technician meets: USB adapters
// that hand the unit's output over once per latency tick (1 to 255 ms) or in
// random bursts, units that answer up to 250 ms late, with records and
// trailers answered 0x15 and a unit switched on while the link requests flow.
// One property holds in every row: the run never ends "complete" unless the
// backup is the unit's firmware byte for byte and the unit holds the image
// exactly; on every link the tool supports it must end complete.
//
// The rows come in three sets, run by three CTest entries (K410_LINK_ROWS=fast,
// slow or slowest: adapters at their usual ticks, slow adapters and late units
// up to a 64 ms tick, then ticks of 100 ms and more), so that no run of the
// suite comes near QtTest's time limit for a test function, which Qt 6.4 may
// count over several rows in a row on a busy machine; without the variable
// all three run.
#include "E2e.h"

#include "DlgOpen.h"
#include "Variabili.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QToolButton>
#include <QMap>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

using namespace Variabili;
using namespace e2e;

namespace {

/// One row: the unit's and the adapter's k410-sim options, and whether the
/// link lies within what the tool supports (so the run must complete).
struct Link
{
    QStringList simArgs;
    bool supported = true;
    int limitMs = 12000; ///< a run still going after this long is stopped by Exit
};

// Short images for the quick rows, longer ones where a 0x15 must hit a record
// in the middle of the download.
const QStringList kShortUnit{"--records", "3", "--seed", "33"};
const QStringList kShortRelease{"--records", "4", "--seed", "44"};
const QStringList kSlowUnit{"--records", "3", "--seed", "55"};
const QStringList kSlowRelease{"--records", "6", "--seed", "66"};

bool wants(const char *set)
{
    const QByteArray rows = qgetenv("K410_LINK_ROWS");
    return rows.isEmpty() || rows == set;
}

} // namespace

Q_DECLARE_METATYPE(Link)

class TestLinks : public QObject
{
    Q_OBJECT

    const frmIstruzioni::Controls &c = frmIstruzioni::instance().controls();
    QTemporaryDir m_dir;
    QMap<QString, QByteArray> m_images; // by the sim arguments that made them
    // What each set of rows met, for the coverage check: report figures summed
    // over the set's rows, and its rows listed and run, by set.
    QMap<QString, QMap<QString, long long>> m_totals;
    QMap<QString, int> m_rowsListed, m_rowsRun;
    QString m_listing;                  // the set whose rows are being listed
    QMap<QString, int> m_endings;       // how the rows ended
    QElapsedTimer m_clock;

    QString imageFile(const QStringList &args)
    {
        const QString key = args.join(' ');
        const QString file = m_dir.filePath(QStringLiteral("image-%1.bio").arg(m_images.size()));
        if (!m_images.contains(key)) {
            m_images.insert(key, SimUnit::image(args));
            writeAll(file, m_images[key]);
            m_images.insert(key + "#path", file.toUtf8());
        }
        return QString::fromUtf8(m_images[key + "#path"]);
    }

    /// A row of the property test in the set being listed, counted there;
    /// the link follows.
    template <typename... Args>
    QTestData &addRow(const char *format, Args... args)
    {
        ++m_rowsListed[m_listing];
        return QTest::addRow(format, args...) << m_listing;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("K410_WORKDIR", QFile::encodeName(m_dir.filePath("work")));
        m_clock.start();
    }

    void cleanup() { unloadWindow(); }

    void backupAndUpgrade_data()
    {
        QTest::addColumn<QString>("set");
        QTest::addColumn<Link>("link");
        m_rowsListed.clear();
        const QStringList fast{"--probe-speed", "110", "--erase-ms", "5"};
        if (wants("fast")) {
            m_listing = QStringLiteral("fast");
            // Adapters at their usual ticks, and random bursts held up to 32 ms. A unit
            // that would answer repeated "A" while it gets ready shows whether any went out.
            const QStringList repeats{"--ack-repeated-reads", "--ready-delay-ms", "45"};
            for (int latency : {1, 4, 16, 32}) {
                const QStringList tick{"--latency-ms", QString::number(latency)};
                addRow("tick %d ms", latency) << Link{fast + tick};
                addRow("tick %d ms, repeated reads answered", latency) << Link{fast + tick + repeats};
            }
            for (int seed = 1; seed <= 32; ++seed)
                addRow("burst seed %d%s", seed, seed % 3 ? "" : ", repeated reads answered")
                    << Link{fast + QStringList{"--burst-seed", QString::number(seed)} + (seed % 3 ? QStringList() : repeats)};
        }
        // Slow adapters and late units. The unit erases for longer than the link
        // delays, gives up a read when an "A" comes after its 0x05, and in some
        // rows is switched on while the link requests flow, refuses one record
        // or the trailer once. Ticks up to 64 ms make the slow set, longer ones
        // the slowest.
        const QStringList slow{"--probe-speed", "110", "--erase-ms", "150", "--drop-read-on-late-a"};
        int row = 0;
        for (int tick : {1, 16, 64, 100, 255}) {
            m_listing = QLatin1String(tick < 100 ? "slow" : "slowest");
            for (int turnaround : {0, 70, 250}) {
                const int faultKind = (row / 3 + row % 3) % 3; // spread over ticks and turnarounds
                QStringList args = slow + QStringList{"--latency-ms", QString::number(tick), "--turnaround-us",
                                                      QString::number(turnaround * 1000)};
                const char *fault = "";
                if (faultKind == 1) {
                    args << "--nak-record" << "4";
                    fault = ", record 4 answered 0x15";
                } else if (faultKind == 2) {
                    args << "--nak-trailer" << "1";
                    fault = ", trailer answered 0x15";
                }
                if (row % 2 == 0)
                    args << "--power-up-after-ms" << "150";
                if (wants(qPrintable(m_listing)))
                    addRow("tick %d ms, turnaround %d ms%s%s", tick, turnaround, fault,
                           row % 2 == 0 ? ", switched on late" : "")
                        << Link{args, true, 40000};
                ++row;
            }
        }
        if (wants("slow")) {
            m_listing = QStringLiteral("slow");
            addRow("tick 64 ms paced, switched on late")
                << Link{slow + QStringList{"--pace", "--latency-ms", "64", "--power-up-after-ms", "150"}, true, 40000};
            addRow("no adapter, unit answers after 70 ms, record 4 answered 0x15")
                << Link{slow + QStringList{"--turnaround-us", "70000", "--nak-record", "4", "--power-up-after-ms", "100"},
                        true, 40000};
        }
        for (int tick : {40, 100}) {
            m_listing = QLatin1String(tick < 100 ? "slow" : "slowest");
            if (wants(qPrintable(m_listing)))
                addRow("tick %d ms, 0x06 0x05 together, late \"A\" drops the read", tick)
                    << Link{slow + QStringList{"--latency-ms", QString::number(tick), "--ack-enq-together"}, true, 40000};
        }
        if (wants("slowest")) {
            m_listing = QStringLiteral("slowest");
            for (int seed = 33; seed <= 38; ++seed)
                addRow("burst seed %d held up to 100 ms", seed)
                    << Link{slow + QStringList{"--latency-ms", "100", "--burst-seed", QString::number(seed)}, true, 40000};
            // The worst link the tool supports, with both refusals in one run.
            addRow("tick 255 ms, turnaround 250 ms, record 4 and the trailer answered 0x15")
                << Link{slow + QStringList{"--latency-ms", "255", "--turnaround-us", "250000", "--nak-record", "4",
                                           "--nak-trailer", "1"},
                        true, 40000};
            // Beyond what the tool supports: the run may fail, but never as "complete".
            addRow("beyond: tick 255 ms, turnaround 450 ms")
                << Link{slow + QStringList{"--latency-ms", "255", "--turnaround-us", "450000", "--nak-record", "2"},
                        false, 25000};
        }
    }

    void backupAndUpgrade()
    {
        QFETCH(QString, set);
        QFETCH(Link, link);
        const bool slowImages = set != QLatin1String("fast");
        const QStringList unitImage = slowImages ? kSlowUnit : kShortUnit;
        const QStringList releaseImage = slowImages ? kSlowRelease : kShortRelease;
        const QString imagePath = imageFile(releaseImage);
        const QByteArray unitFirmware = SimUnit::image(unitImage);
        const QString savePath = m_dir.filePath("saved.bak");
        QFile::remove(savePath);

        SimUnit unit(link.simArgs + unitImage);
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        mapPorts({unit.device(), "", "", ""});
        frmIstruzioni &w = freshWindow();
        // The probe's answer crosses the same slow link: give it the real line time.
        w.setProbeTiming(ProbeTiming{std::chrono::milliseconds(600), 1.0});
        DlgOpen::setAnswerer([&](bool save, const QString &, const QString &, const QString &) {
            return std::optional<QString>(save ? savePath : imagePath);
        });
        walkToStart(w, true);
        QVERIFY2(atStartStep(w), qPrintable(c.Text1(0)->toPlainText()));

        QElapsedTimer runClock;
        runClock.start();
        QTimer watchdog; // a run that hangs is stopped and ends "interrupted"
        watchdog.setSingleShot(true);
        watchdog.callOnTimeout(&w, [this] { c.cmdAnnulla->click(); });
        watchdog.start(link.limitMs);
        c.cmdStart->click();
        watchdog.stop();
        qInfo("run: %lld ms", runClock.elapsed());

        const QString status = c.Text1(6)->toPlainText();
        const bool complete = status == strUpgrDone;
        const QByteArray unitNow = unit.firmware();
        const QString ending = complete ? QStringLiteral("complete")
                               : !c.txtError->isHidden() ? c.txtError->text().left(40)
                                                         : status.left(40);
        ++m_endings[ending];
        ++m_rowsRun[set];
        for (const char *key : {"adapter_merges", "adapter_cuts", "read_repeats_acked", "reads_dropped", "trailer_naks",
                                "records_naked", "link_ignored_powering_up"})
            m_totals[set][key] += unit.number(key);

        // Never "complete" unless exact, in every row.
        if (complete) {
            QCOMPARE(readAll(savePath), unitFirmware);
            QCOMPARE(unitNow, readAll(imagePath));
        }
        if (link.supported) {
            // "A" went out once: nothing for the unit to answer again or to drop the read for.
            QCOMPARE(unit.number("read_repeats_acked"), 0);
            QCOMPARE(unit.number("reads_dropped"), 0);
            QVERIFY2(complete, qPrintable(QStringLiteral("ended: %1\n%2").arg(ending, QString::fromUtf8(unit.reportText()))));
            checkNormalEnding(w, strUpgrDone);
        }
    }

    // What the rows met, checked for each set once every row it listed has run
    // in this process: the trouble its rows are there to meet (merged messages
    // in every set; messages cut between two bursts where bursts are random;
    // refused records and trailers and a unit switched on late in the slow and
    // slowest sets). Each set is judged by its own rows alone, whichever other
    // set ran beside it; a set of which rows were picked by hand is not judged.
    void cleanupTestCase()
    {
        qInfo("rows in %lld ms; endings:", m_clock.elapsed());
        for (auto it = m_endings.cbegin(); it != m_endings.cend(); ++it)
            qInfo("  %3d %s", it.value(), qPrintable(it.key()));
        for (auto set = m_rowsListed.cbegin(); set != m_rowsListed.cend(); ++set) {
            const QMap<QString, long long> &totals = m_totals[set.key()];
            qInfo("%s: %d of %d rows", qPrintable(set.key()), m_rowsRun[set.key()], set.value());
            for (auto it = totals.cbegin(); it != totals.cend(); ++it)
                qInfo("  %s: %lld", qPrintable(it.key()), it.value());
            if (m_rowsRun[set.key()] < set.value())
                continue; // some rows were picked by hand
            QStringList met{"adapter_merges"};
            if (set.key() != QLatin1String("slow"))
                met << "adapter_cuts";
            if (set.key() != QLatin1String("fast"))
                met << "trailer_naks" << "records_naked" << "link_ignored_powering_up";
            for (const QString &key : std::as_const(met))
                QVERIFY2(totals[key] > 0, qPrintable(set.key() + ": no " + key));
        }
    }
};

int runLinkTests(int argc, char **argv)
{
    TestLinks t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_links.moc"
