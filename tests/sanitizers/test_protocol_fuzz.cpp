// The protocol fuzz target's harness, seeds and regressions, in every build:
// each seed is the input its scenario encodes (the committed corpus cannot
// drift from this table), passes the oracle and ends the way its name starts;
// every input the fuzzer ever found breaking the oracle passes it now.
// K410_WRITE_SEEDS=1 writes the seed files instead of comparing them.

#include "ProtocolHarness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using ProtocolHarness::Scenario;

namespace {

struct Seed
{
    QString name; ///< starts with the ending: complete, stopped, damaged
    Scenario scenario;
};

QList<Seed> seedTable()
{
    const auto base = [](int unitRecords, int imageRecords) {
        Scenario s;
        s.unitRecords = unitRecords;
        s.imageRecords = imageRecords;
        s.eraseMs = 150;
        return s;
    };
    QList<Seed> seeds;
    const auto add = [&seeds](const char *name, Scenario s) { seeds.append({QString::fromLatin1(name), s}); };

    // The slow-link faults: a 255 ms tick that kept every take at several 0x06;
    // a late link answer taken for the erase answer; a unit 70 ms late whose
    // 0x15 on record 4 (or on the trailer) made the host repeat the wrong one;
    // "A" repeated past the 0x05 of a unit that drops the read then.
    Scenario s = base(2, 3);
    s.tickMs = 255;
    s.powerOnMs = 300;
    add("complete-tick-255-switched-on-late", s);
    s = base(2, 3);
    s.tickMs = 64;
    s.paced = true;
    s.powerOnMs = 150;
    add("complete-tick-64-paced-switched-on-late", s);
    s = base(1, 8);
    s.backup = false;
    s.turnarounds = QByteArray(1, 70);
    s.powerOnMs = 100;
    s.nakRecords = 1u << 3;
    add("complete-turnaround-70-record-4-refused", s);
    s.nakRecords = 0;
    s.trailerNaks = 1;
    add("complete-turnaround-70-trailer-refused", s);
    s = base(2, 2);
    s.tickMs = 40;
    s.ackEnqTogether = true;
    s.dropReadOnLateA = true;
    add("complete-tick-40-late-a-drops-read", s);
    s = base(2, 2);
    s.tickMs = 100;
    s.turnarounds = QByteArray::fromHex("fa00fa46");
    s.trailerNaks = 1;
    s.nakRecords = 1;
    add("complete-tick-100-turnarounds-250-0-70", s);

    // The adapter faults of the field: the end block and the trailer in one take,
    // an end block as the first block, 0x06 0x05 together, repeated "A" answered,
    // two link answers in every take, random cuts and merges.
    s = base(4, 3);
    s.tickMs = 16;
    add("complete-tick-16-end-block-and-trailer", s);
    s = base(0, 1);
    s.tickMs = 16;
    add("complete-first-block-is-end-record", s);
    s = base(2, 2);
    s.ackEnqTogether = true;
    add("complete-ack-enq-together", s);
    s = base(2, 2);
    s.ackRepeatedReads = true;
    s.readyMs = 45;
    add("complete-repeated-reads-answered", s);
    s = base(2, 2);
    s.tickMs = 40;
    s.powerOnMs = 200;
    add("complete-tick-40-two-answers-a-take", s);
    s = base(5, 5);
    s.bursts = true;
    s.burstSeed = 7;
    s.tickMs = 100;
    s.corruptBlocks = 0x05;
    s.noiseBytes = 3;
    add("complete-bursts-corrupt-blocks-noise", s);

    // Exit in each phase, and a damaged image.
    s = base(3, 15);
    s.tickMs = 16;
    s.powerOnMs = 2000;
    s.exitAtMs = 500;
    add("stopped-exit-while-switched-off", s);
    s.powerOnMs = 0;
    s.eraseMs = 2500;
    s.exitAtMs = 1000;
    add("stopped-exit-in-erase", s);
    s.eraseMs = 10;
    s.paced = true;
    s.exitAtMs = 300;
    add("stopped-exit-in-download", s);
    s = base(2, 4);
    s.damagedImage = true;
    add("damaged-image-nothing-sent", s);
    return seeds;
}

QString seedDir()
{
    return QStringLiteral(K410_PROTOCOL_CORPUS);
}

QString regressionDir()
{
    return QStringLiteral(K410_PROTOCOL_REGRESSIONS);
}

} // namespace

Q_DECLARE_METATYPE(Scenario)

class TestProtocolFuzz : public QObject
{
    Q_OBJECT
    QTemporaryDir m_scratch;

private slots:
    void seeds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Scenario>("scenario");
        for (const Seed &seed : seedTable())
            QTest::newRow(qPrintable(seed.name)) << seed.name << seed.scenario;
    }

    void seeds()
    {
        QFETCH(QString, name);
        QFETCH(Scenario, scenario);
        const QString file = seedDir() + QLatin1Char('/') + name;
        const QByteArray input = scenario.encode();
        if (qEnvironmentVariableIsSet("K410_WRITE_SEEDS")) {
            QDir().mkpath(seedDir());
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(input) == input.size());
        }
        QFile f(file);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(file));
        QCOMPARE(f.readAll(), input);
        const ProtocolHarness::Outcome o = ProtocolHarness::run(Scenario::decode(input), m_scratch.path());
        QVERIFY2(o.failure.isEmpty(), qPrintable(o.failure));
        QCOMPARE(o.ending, name.section(QLatin1Char('-'), 0, 0));
        qInfo("%s: %d passes, %lld virtual ms", qPrintable(o.ending), o.passes, o.virtualMs);
    }

    // Every committed seed comes from the table.
    void noStraySeeds()
    {
        QStringList names;
        for (const Seed &seed : seedTable())
            names << seed.name;
        const QStringList files = QDir(seedDir()).entryList(QDir::Files);
        for (const QString &file : files)
            QVERIFY2(names.contains(file), qPrintable(file));
    }

    // Inputs the fuzzer found breaking the oracle: each passes it now.
    void regressions()
    {
        const QStringList files = QDir(regressionDir()).entryList(QDir::Files);
        for (const QString &file : files) {
            QFile f(regressionDir() + QLatin1Char('/') + file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const ProtocolHarness::Outcome o = ProtocolHarness::run(Scenario::decode(f.readAll()), m_scratch.path());
            QVERIFY2(o.failure.isEmpty(), qPrintable(file + QStringLiteral(": ") + o.failure));
        }
        qInfo("%lld regression inputs", qsizetype(files.size()));
    }
};

QTEST_GUILESS_MAIN(TestProtocolFuzz)
#include "test_protocol_fuzz.moc"
