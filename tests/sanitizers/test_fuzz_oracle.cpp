// The image fuzz target's oracle and seed corpus: every seed reaches the
// outcome its name states and passes the oracle against the real validator
// and reader; and the oracle does report a file layer that answers for other
// bytes than the ones it was given.

#include "ImageOracle.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using ImageOracle::Outcome;

namespace {

/// A valid record over `data` (13 bytes), with the check bytes worked out here.
QByteArray rec(const QByteArray &data)
{
    unsigned sum = 0;
    unsigned x = 0;
    for (char c : data) {
        sum += quint8(c);
        x ^= quint8(c);
    }
    return data + char(sum >> 8) + char(sum & 0xFF) + char(x);
}

const QByteArray kEnd = QByteArray::fromHex("00112233445566778899aabbccffffff");
const QByteArray kTrailer = QByteArray("K410");
const QByteArray kR1 = rec(QByteArray::fromHex("0200c312000102030405060708"));
const QByteArray kR2 = rec(QByteArray::fromHex("2030405060708090a0b0c0d0e0"));
const QByteArray kFF = rec(QByteArray(13, char(0xFF)));

Outcome outcomeFromName(const QString &name)
{
    if (name.startsWith(QLatin1String("accepted-")))
        return Outcome::Accepted;
    if (name.startsWith(QLatin1String("damaged-")))
        return Outcome::Damaged;
    return Outcome::EndsEarly;
}

} // namespace

class TestFuzzOracle : public QObject
{
    Q_OBJECT

private slots:
    void corpusHasTheEdgeCases();
    void corpusSeed_data();
    void corpusSeed();
    void model_data();
    void model();
    void reportsDisagreement_data();
    void reportsDisagreement();
};

void TestFuzzOracle::corpusHasTheEdgeCases()
{
    const QDir corpus(QStringLiteral(K410_FUZZ_CORPUS));
    const QStringList names = corpus.entryList(QDir::Files);
    for (const char *wanted : {"accepted-0-records-end-only.bio", "accepted-1-record.bio", "accepted-3-records.bio",
                               "accepted-all-ff-data.bio", "ends-early-trailer-short.bio", "damaged-second-record.bio",
                               "ends-early-empty.bio"}) {
        QVERIFY2(names.contains(QLatin1String(wanted)), wanted);
    }
    QCOMPARE(QFileInfo(corpus.filePath(QStringLiteral("accepted-0-records-end-only.bio"))).size(), 20);
    QCOMPARE(QFileInfo(corpus.filePath(QStringLiteral("ends-early-empty.bio"))).size(), 0);
}

void TestFuzzOracle::corpusSeed_data()
{
    QTest::addColumn<QString>("path");
    const QDir corpus(QStringLiteral(K410_FUZZ_CORPUS));
    for (const QFileInfo &info : corpus.entryInfoList(QDir::Files, QDir::Name))
        QTest::newRow(qPrintable(info.fileName())) << info.filePath();
}

void TestFuzzOracle::corpusSeed()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    file.close();

    QCOMPARE(ImageOracle::outcomeName(ImageOracle::expect(image).outcome),
             ImageOracle::outcomeName(outcomeFromName(QFileInfo(path).fileName())));
    const QString failure = ImageOracle::check(image, path);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestFuzzOracle::model_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("validRecords");
    QTest::addColumn<bool>("trailerShort");

    const auto row = [](const char *name, const QByteArray &image, Outcome o, int n, bool shortTrailer) {
        QTest::newRow(name) << image << int(o) << n << shortTrailer;
    };
    row("end only", kEnd + kTrailer, Outcome::Accepted, 0, false);
    row("two records", kR1 + kR2 + kEnd + kTrailer, Outcome::Accepted, 2, false);
    row("all 0xFF data is a record", kFF + kFF + kEnd + kTrailer, Outcome::Accepted, 2, false);
    row("record after the end is not read", kEnd + kTrailer + QByteArray(7, 'x'), Outcome::Accepted, 0, false);
    row("trailer of 3", kR1 + kEnd + "K41", Outcome::EndsEarly, 1, true);
    row("no trailer", kEnd, Outcome::EndsEarly, 0, true);
    row("15 bytes", QByteArray(15, '\0') , Outcome::EndsEarly, 0, false);
    row("last record short", kR1 + kR2.left(15), Outcome::EndsEarly, 1, false);
    QByteArray flipped = kR2;
    flipped[0] = char(flipped[0] ^ 0x01);
    row("damaged before a good end", kR1 + flipped + kEnd + kTrailer, Outcome::Damaged, 1, false);
    QByteArray twoMarks = kEnd;
    twoMarks[13] = char(0x00);
    row("two of three end marks", twoMarks + kTrailer, Outcome::Damaged, 0, false);
}

void TestFuzzOracle::model()
{
    QFETCH(QByteArray, image);
    QFETCH(int, outcome);
    QFETCH(int, validRecords);
    QFETCH(bool, trailerShort);

    const ImageOracle::Expectation e = ImageOracle::expect(image);
    QCOMPARE(ImageOracle::outcomeName(e.outcome), ImageOracle::outcomeName(Outcome(outcome)));
    QCOMPARE(e.validRecords, qsizetype(validRecords));
    QCOMPARE(e.trailerShort, trailerShort);
}

// The file on disk holds other bytes than the image handed to the oracle: as
// if the validator or the reader got its answer wrong. The oracle must say so,
// and name the part that disagreed.
void TestFuzzOracle::reportsDisagreement_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QByteArray>("onDisk");
    QTest::addColumn<QString>("blamed");

    QByteArray flipped = kR1;
    flipped[3] = char(flipped[3] ^ 0x40);
    QTest::newRow("accepts a damaged image")
        << flipped + kEnd + kTrailer << kR1 + kEnd + kTrailer << QStringLiteral("validator:");
    QTest::newRow("damns a good image")
        << kR1 + kEnd + kTrailer << flipped + kEnd + kTrailer << QStringLiteral("validator:");
    QTest::newRow("accepts a short trailer")
        << kR1 + kEnd + "K4" << kR1 + kEnd + kTrailer << QStringLiteral("validator:");
    QTest::newRow("past end on a whole image")
        << kR1 + kEnd + kTrailer << kR1 + kEnd.left(9) << QStringLiteral("validator:");
    QTest::newRow("wrong trailer bytes")
        << kR1 + kEnd + kTrailer << kR1 + kEnd + QByteArray("K411") << QStringLiteral("reader: trailer");
    QTest::newRow("wrong record bytes")
        << kR1 + kR2 + kEnd + kTrailer << kR1 + kFF + kEnd + kTrailer << QStringLiteral("reader: record 1");
    QTest::newRow("end record too late")
        << kR1 + kEnd + kTrailer << kR1 + kR2 + kEnd + kTrailer << QStringLiteral("reader:");
    QTest::newRow("end record too early")
        << kR1 + kR2 + kEnd + kTrailer << kR1 + kEnd + kTrailer + kTrailer << QStringLiteral("reader:");
    QTest::newRow("damaged at another record")
        << kR1 + flipped + kEnd + kTrailer << flipped + kR1 + kEnd + kTrailer << QStringLiteral("reader:");
}

void TestFuzzOracle::reportsDisagreement()
{
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, onDisk);
    QFETCH(QString, blamed);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("image.bio"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(onDisk), onDisk.size());
    file.close();

    QVERIFY2(ImageOracle::check(onDisk, path).isEmpty(), "the oracle agrees with the file's own bytes");
    const QString failure = ImageOracle::check(image, path);
    QVERIFY2(failure.startsWith(blamed), qPrintable(QStringLiteral("got: \"%1\"").arg(failure)));
}

QTEST_GUILESS_MAIN(TestFuzzOracle)
#include "test_fuzz_oracle.moc"
