// The table of run-time error numbers: each number once, with the name and
// meaning the table gives it, and every number the code throws listed there.
// The code is read from the source tree (K410_SOURCE_DIR), so a new error
// constant, or a number written into a throw, that the table lacks fails here.
#include "ErrorNumbers.h"
#include "RunTimeError.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <memory>
#include <vector>

namespace {

QString qs(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

/// Every C++ source and header of the tree. The build folders (and hidden
/// ones) are never entered: they can hold many thousands of files.
QStringList sourceFiles()
{
    QStringList files;
    const QString root = QStringLiteral(K410_SOURCE_DIR);
    const QStringList patterns{QStringLiteral("*.cpp"), QStringLiteral("*.h")};
    const QDir top(root);
    QStringList folders;
    for (const QString &name : top.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!name.startsWith(QLatin1String("build")))
            folders << name;
    }
    for (const QString &name : top.entryList(patterns, QDir::Files))
        files << name;
    for (const QString &folder : folders) {
        QDirIterator it(root + QLatin1Char('/') + folder, patterns, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next().mid(root.size() + 1);
    }
    return files;
}

QString readSource(const QString &relative)
{
    QFile file(QStringLiteral(K410_SOURCE_DIR) + QLatin1Char('/') + relative);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestErrorNumbers : public QObject
{
    Q_OBJECT
private slots:
    void entries_data();
    void entries();
    void table();
    void everyNumberInTheCodeIsListed();
};

// The numbers the code raises, as the technician's messages and the run
// record show them: each with the name that says what it is.
void TestErrorNumbers::entries_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::newRow("53") << 53 << "FileNotFound";
    QTest::newRow("62") << 62 << "PastEnd";
    QTest::newRow("75") << 75 << "FileAccess";
    QTest::newRow("380") << 380 << "InvalidPropertyValue";
    QTest::newRow("8002") << 8002 << "InvalidPortNumber";
    QTest::newRow("8005") << 8005 << "PortAlreadyOpen";
    QTest::newRow("8010") << 8010 << "PermissionDenied";
    QTest::newRow("8015") << 8015 << "CommState";
    QTest::newRow("8018") << 8018 << "PortNotOpen";
    QTest::newRow("8020") << 8020 << "DeviceLost";
    QTest::newRow("8100") << 8100 << "AnswersOutOfStep";
    QTest::newRow("20476") << 20476 << "BufferTooSmall";
    QTest::newRow("32755") << 32755 << "CancelSelected";
}

void TestErrorNumbers::entries()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    const ErrorNumber *entry = findErrorNumber(number);
    QVERIFY(entry);
    QCOMPARE(entry->number, number);
    QCOMPARE(qs(entry->name), name);
    QVERIFY(!entry->meaning.empty());
    QCOMPARE(RunTimeError(number, QStringLiteral("x")).number(), number);
}

void TestErrorNumbers::table()
{
    QSet<int> numbers;
    QSet<QString> names;
    for (const ErrorNumber &entry : kErrorNumbers) {
        QVERIFY2(!numbers.contains(entry.number), qPrintable(QString::number(entry.number)));
        QVERIFY2(!names.contains(qs(entry.name)), entry.name.data());
        numbers << entry.number;
        names << qs(entry.name);
        QVERIFY(entry.number > 0);
        QVERIFY(!entry.meaning.empty());
        QCOMPARE(findErrorNumber(entry.number), &entry);
    }
    QCOMPARE(numbers.size(), 13); // the rows of entries_data, and no more
    for (const int unknown : {0, -1, 1, 8000, 8101, 65535})
        QCOMPARE(findErrorNumber(unknown), nullptr);
}

// Read from the sources: every error constant the code names is one of the
// table's names, ErrorNumbers.h is the only place one is defined, and a
// number written straight into a RunTimeError is one of the table's numbers.
void TestErrorNumbers::everyNumberInTheCodeIsListed()
{
    QSet<QString> names;
    QSet<int> numbers;
    for (const ErrorNumber &entry : kErrorNumbers) {
        names << QLatin1String("kErr") + qs(entry.name);
        numbers << entry.number;
    }
    const QRegularExpression constant(QStringLiteral("\\bkErr[A-Z]\\w*"));
    const QRegularExpression definition(QStringLiteral("constexpr\\s+int\\s+kErr[A-Z]\\w*\\s*="));
    const QRegularExpression literal(QStringLiteral("\\bRunTimeError\\s*\\(\\s*(\\d+)"));
    const QRegularExpression thrown(QStringLiteral("\\bthrow\\s+RunTimeError\\b"));

    const QStringList files = sourceFiles();
    QVERIFY2(files.contains(QStringLiteral("serial/ErrorNumbers.h")), "the source tree was not found");
    int throwSites = 0;
    QSet<QString> used;
    for (const QString &file : files) {
        const QString text = readSource(file);
        const bool table = file == QLatin1String("serial/ErrorNumbers.h");
        const bool product = !table && !file.startsWith(QLatin1String("tests/"));
        for (const auto &m : constant.globalMatch(text)) {
            QVERIFY2(names.contains(m.captured()), qPrintable(file + QLatin1String(": ") + m.captured()));
            if (product)
                used << m.captured();
        }
        if (!table)
            QVERIFY2(!definition.match(text).hasMatch(), qPrintable(file + QLatin1String(" defines an error number")));
        for (const auto &m : literal.globalMatch(text))
            QVERIFY2(numbers.contains(m.captured(1).toInt()), qPrintable(file + QLatin1String(": ") + m.captured()));
        if (product) {
            for ([[maybe_unused]] const auto &m : thrown.globalMatch(text))
                ++throwSites;
        }
    }
    // The scan read the code that throws: the serial control, files and dialogs.
    QVERIFY2(throwSites >= 20, qPrintable(QString::number(throwSites)));
    // Each number of the table is raised by the program (no dead entries).
    for (const QString &name : std::as_const(names))
        QVERIFY2(used.contains(name), qPrintable(name + QLatin1String(" is not used")));
}

void addErrorNumberSuites(std::vector<std::unique_ptr<QObject>> &suites)
{
    suites.push_back(std::make_unique<TestErrorNumbers>());
}

#include "tst_errors.moc"
