// The start window: its controls and look, the keyboard, the language buttons
// opening the instruction window modally, and every picture the two windows use.

#include "AppIdentity.h"
#include "CommandLine.h"
#include "Testfile.h"
#include "Variabili.h"
#include "frmIstruzioni.h"
#include "frmStart.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>

namespace {

const QString kItalianTitle = QStringLiteral("Procedura di aggiornamento Bios K410");
const QString kEnglishTitle = QStringLiteral("Procedure to update Bios K410");
const QString kFrenchTitle = QString::fromUtf8("Procédure de mise à jour Bios K410");
const QString kGermanTitle = QStringLiteral("Biosneubearbeitungprozess von K410");

struct ControlRow
{
    const char *name;
    QRect pixels;
    const char *caption;
};

// Every control of the window: position and size (twips / 15) and caption.
const ControlRow kControls[] = {
    {"cmdItalia", {144, 200, 201, 169}, "ITALIANO"},
    {"cmdInghilterra", {416, 200, 201, 169}, "ENGLISH"},
    {"cmdFrancia", {144, 384, 201, 169}, "FRANCAIS"},
    {"cmdGermania", {416, 384, 201, 169}, "DEUTSCH"},
    {"Label1", {32, 104, 607, 77}, "Upgrade Bios K410"},
    // The maker's contact block: one line each, left edges aligned, 24 px apart.
    {"Label2", {472, 16, 152, 19}, "Ventrisa s.r.l."},
    {"Label3", {472, 40, 153, 19}, "Via dei Tigli 55"},
    {"Label4", {472, 64, 188, 19}, "99999 Borgofinto"},
    {"Label5", {472, 88, 282, 19}, "Tel 555-0100  Fax 555-0199"},
    {"cmdEsci", {680, 456, 73, 93}, "EXIT"},
    {"Image1", {8, 8, 403, 77}, nullptr},
};

bool near(QColor actual, QColor expected, int tolerance = 40)
{
    return qAbs(actual.red() - expected.red()) <= tolerance
           && qAbs(actual.green() - expected.green()) <= tolerance
           && qAbs(actual.blue() - expected.blue()) <= tolerance;
}

QString captionOf(const QWidget *widget)
{
    if (auto *button = qobject_cast<const QToolButton *>(widget))
        return button->text();
    return qobject_cast<const QLabel *>(widget)->text();
}

QString describe(QColor c)
{
    return QStringLiteral("(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

/// What a test saw while the instruction window was up.
struct ModalVisit
{
    bool happened = false;
    bool modalIsInstructions = false;
    bool instructionsVisible = false;
    QString titleSlot;
};

/// Runs `trigger` (which is expected to open the instruction window modally);
/// once the window is up, records what it sees, runs `whileUp`, then closes it.
ModalVisit visitModal(const std::function<void()> &trigger,
                      const std::function<void()> &whileUp = {})
{
    ModalVisit visit;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        visit.happened = true;
        frmIstruzioni &window = frmIstruzioni::instance();
        visit.modalIsInstructions = QApplication::activeModalWidget() == &window;
        visit.instructionsVisible = window.isVisible();
        visit.titleSlot = Variabili::strTitle;
        if (whileUp)
            whileUp();
        window.done(0);
    });
    timer.start();
    trigger();
    // If nothing opened, let the timer run now so it cannot fire in a later test.
    QCoreApplication::processEvents();
    return visit;
}

void clearCatalogue()
{
    for (int i = 0; i < Variabili::kSlotCount; ++i)
        *Variabili::catalogueSlots()[i] = QString();
}

QImage renderSvg(const QString &path, QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

} // namespace

class TestStartWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowProperties();
    void controls_data();
    void controls();
    void fontsAndColours_data();
    void fontsAndColours();
    void flagDrawnAboveCaption_data();
    void flagDrawnAboveCaption();
    void exitAndLogoPictures();
    void focusAndTabOrder();
    void escapeClicksExit_data();
    void escapeClicksExit();
    void enterActsOnFocusedButtonOnly();
    void languageButtonLoadsThenOpens_data();
    void languageButtonLoadsThenOpens();
    void startWindowBlockedWhileInstructionsUp();
    void languageAgainAfterClosing();

    void applicationIdentity();
    void versionResource();
    void commandLine_data();
    void commandLine();
    void pictures_data();
    void pictures();
    void transparentBackgrounds_data();
    void transparentBackgrounds();

private:
    template <typename T = QToolButton>
    T *control(const char *name)
    {
        return m_start->findChild<T *>(QString::fromLatin1(name));
    }

    frmStart *m_start = nullptr;
};

void TestStartWindow::initTestCase()
{
    AppIdentity::applyToApplication();
}

void TestStartWindow::init()
{
    clearCatalogue();
    m_start = new frmStart;
    m_start->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_start));
}

void TestStartWindow::cleanup()
{
    delete m_start;
    m_start = nullptr;
}

void TestStartWindow::windowProperties()
{
    QCOMPARE(m_start->windowTitle(), QStringLiteral("Upgrade Bios K410"));
    QCOMPARE(m_start->size(), QSize(792, 573));
    QCOMPARE(m_start->palette().color(QPalette::Window), QColor(0, 0, 192));
    QVERIFY(m_start->autoFillBackground());
    // Sizable: nothing pins the size.
    QVERIFY(m_start->minimumSize() != m_start->maximumSize());
    QVERIFY(m_start->isWindow());
}

void TestStartWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("pixels");
    QTest::addColumn<QString>("caption");
    for (const ControlRow &row : kControls)
        QTest::newRow(row.name) << QString::fromLatin1(row.name) << row.pixels
                                << (row.caption ? QString::fromLatin1(row.caption) : QString());
}

void TestStartWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, pixels);
    QFETCH(QString, caption);
    auto *widget = m_start->findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->parentWidget(), m_start);
    QCOMPARE(widget->geometry(), pixels);
    QVERIFY(!widget->isHidden());
    QVERIFY(widget->isEnabled());
    if (!caption.isEmpty())
        QCOMPARE(captionOf(widget), caption);
}

void TestStartWindow::fontsAndColours_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<QColor>("colour"); // back colour of a button, text colour of a label

    const QColor teal(0, 192, 192);
    const QColor yellow(255, 255, 0);
    QTest::newRow("cmdItalia") << "cmdItalia" << 12.0 << false << teal;
    QTest::newRow("cmdInghilterra") << "cmdInghilterra" << 12.0 << false << teal;
    QTest::newRow("cmdFrancia") << "cmdFrancia" << 12.0 << false << teal;
    QTest::newRow("cmdGermania") << "cmdGermania" << 12.0 << false << teal;
    QTest::newRow("cmdEsci") << "cmdEsci" << 12.0 << false << QColor(255, 255, 192);
    QTest::newRow("Label1") << "Label1" << 48.0 << true << yellow;
    QTest::newRow("Label2") << "Label2" << 12.0 << false << yellow;
    QTest::newRow("Label3") << "Label3" << 12.0 << false << yellow;
    QTest::newRow("Label4") << "Label4" << 12.0 << false << yellow;
    QTest::newRow("Label5") << "Label5" << 12.0 << false << yellow;
}

void TestStartWindow::fontsAndColours()
{
    QFETCH(QString, name);
    QFETCH(qreal, points);
    QFETCH(bool, italic);
    QFETCH(QColor, colour);
    auto *widget = m_start->findChild<QWidget *>(name);
    QVERIFY(widget);
    const QFont font = widget->font();
    QVERIFY(!font.families().isEmpty());
    QCOMPARE(font.families().first(), QStringLiteral("Tahoma"));
    QVERIFY2(font.families().size() >= 2, "a sans-serif stand-in must follow Tahoma");
    QCOMPARE(font.pointSizeF(), points);
    QVERIFY(font.bold());
    QCOMPARE(font.italic(), italic);
    if (qobject_cast<QToolButton *>(widget)) {
        QCOMPARE(widget->palette().color(QPalette::Button), colour);
        return;
    }
    QCOMPARE(widget->palette().color(QPalette::WindowText), colour);
    // Whatever font stands in for Tahoma, no text is cut off at its label's edge.
    const auto *label = qobject_cast<QLabel *>(widget);
    const QFontMetrics metrics(label->font());
    QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width(),
             qPrintable(QStringLiteral("%1 px of text in %2 px")
                            .arg(metrics.horizontalAdvance(label->text()))
                            .arg(label->width())));
    QVERIFY(metrics.height() <= label->height() + 1);
}

void TestStartWindow::flagDrawnAboveCaption_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("at1");
    QTest::addColumn<QColor>("colour1");
    QTest::addColumn<QPoint>("at2");
    QTest::addColumn<QColor>("colour2");
    QTest::addColumn<QPoint>("at3");
    QTest::addColumn<QColor>("colour3");
    // Points inside the 170 x 113 flag, from its top left corner.
    const QColor white(255, 255, 255);
    QTest::newRow("Italy") << "cmdItalia" << QPoint(25, 56) << QColor(0, 146, 70)
                           << QPoint(85, 56) << white << QPoint(145, 56) << QColor(206, 43, 55);
    QTest::newRow("United Kingdom")
        << "cmdInghilterra" << QPoint(85, 56) << QColor(200, 16, 46) << QPoint(10, 32)
        << QColor(1, 33, 105) << QPoint(120, 10) << QColor(1, 33, 105);
    QTest::newRow("France") << "cmdFrancia" << QPoint(25, 56) << QColor(0, 35, 149)
                            << QPoint(85, 56) << white << QPoint(145, 56) << QColor(237, 41, 57);
    QTest::newRow("Germany") << "cmdGermania" << QPoint(85, 18) << QColor(0, 0, 0)
                             << QPoint(85, 56) << QColor(221, 0, 0) << QPoint(85, 95)
                             << QColor(255, 206, 0);
}

void TestStartWindow::flagDrawnAboveCaption()
{
    QFETCH(QString, name);
    QFETCH(QPoint, at1);
    QFETCH(QColor, colour1);
    QFETCH(QPoint, at2);
    QFETCH(QColor, colour2);
    QFETCH(QPoint, at3);
    QFETCH(QColor, colour3);

    auto *button = m_start->findChild<QToolButton *>(name);
    QVERIFY(button);
    QCOMPARE(button->iconSize(), QSize(170, 113));
    QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    const QImage shot = button->grab().toImage().scaled(button->size());

    // The flag's dark outline: first row from the top, in the middle column,
    // that is not the button's own teal.
    const int middle = shot.width() / 2;
    int top = -1;
    for (int y = 0; y < shot.height() && top < 0; ++y) {
        if (!near(shot.pixelColor(middle, y), QColor(0, 192, 192), 70)
            && !near(shot.pixelColor(middle, y), QColor(64, 255, 255), 70)
            && shot.pixelColor(middle, y).lightness() < 120)
            top = y;
    }
    QVERIFY2(top >= 0 && top < 20, "the flag must start at the top of the button");
    const QPoint origin(middle - 85, top);
    for (const auto &[at, colour] : {std::pair{at1, colour1}, {at2, colour2}, {at3, colour3}}) {
        const QColor seen = shot.pixelColor(origin + at);
        QVERIFY2(near(seen, colour), qPrintable(QStringLiteral("at (%1,%2): %3, expected %4")
                                                    .arg(at.x()).arg(at.y())
                                                    .arg(describe(seen), describe(colour))));
    }

    // The caption: dark text pixels only below the flag.
    int textTop = -1;
    for (int y = top + 114; y < shot.height() && textTop < 0; ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (shot.pixelColor(x, y).lightness() < 60) {
                textTop = y;
                break;
            }
    QVERIFY2(textTop > top + 113, "caption must be drawn under the flag");
}

void TestStartWindow::exitAndLogoPictures()
{
    auto *exit = control("cmdEsci");
    QCOMPARE(exit->iconSize(), QSize(50, 50));
    QCOMPARE(exit->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QVERIFY(!exit->icon().isNull());

    auto *logo = control<QLabel>("Image1");
    QVERIFY(logo->hasScaledContents());
    const QPixmap pixmap = logo->pixmap();
    QVERIFY(!pixmap.isNull());
    // Drawn for the control's own size, so the stretch is exact.
    QCOMPARE(pixmap.deviceIndependentSize().toSize(), logo->size());
    // The logo's plate is white, its emblem blue: both must be on screen.
    const QImage shot = logo->grab().toImage();
    QVERIFY(near(shot.pixelColor(shot.width() / 2, 3), Qt::white, 30));
    QVERIFY(shot.pixelColor(shot.width() / 12, shot.height() / 2).blue() > 100);
}

void TestStartWindow::focusAndTabOrder()
{
    QCOMPARE(m_start->focusWidget(), control("cmdItalia"));

    QWindow *window = m_start->windowHandle();
    const QStringList expected{"cmdInghilterra", "cmdFrancia", "cmdGermania", "cmdEsci",
                               "cmdItalia"};
    for (const QString &next : expected) {
        QTest::keyClick(window, Qt::Key_Tab);
        QVERIFY(m_start->focusWidget());
        QCOMPARE(m_start->focusWidget()->objectName(), next);
    }
    // Labels and the logo never take the focus.
    for (const char *name : {"Label1", "Label2", "Label3", "Label4", "Label5", "Image1"})
        QCOMPARE(control<QWidget>(name)->focusPolicy(), Qt::NoFocus);
}

void TestStartWindow::escapeClicksExit_data()
{
    QTest::addColumn<QString>("focused");
    for (const char *name : {"cmdItalia", "cmdGermania", "cmdEsci"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestStartWindow::escapeClicksExit()
{
    QFETCH(QString, focused);
    m_start->findChild<QWidget *>(focused)->setFocus();
    QSignalSpy exitClicks(control("cmdEsci"), &QToolButton::clicked);
    QSignalSpy italianClicks(control("cmdItalia"), &QToolButton::clicked);

    QTest::keyClick(m_start->windowHandle(), Qt::Key_Escape);

    QCOMPARE(exitClicks.size(), 1);
    QCOMPARE(italianClicks.size(), 0);
    QVERIFY(!m_start->isVisible());
    QVERIFY(Variabili::strTitle.isEmpty());
}

void TestStartWindow::enterActsOnFocusedButtonOnly()
{
    // Enter on a focused language button chooses that language.
    control("cmdFrancia")->setFocus();
    QSignalSpy exitClicks(control("cmdEsci"), &QToolButton::clicked);
    const ModalVisit visit =
        visitModal([&] { QTest::keyClick(m_start->windowHandle(), Qt::Key_Return); });
    QVERIFY(visit.happened);
    QVERIFY(visit.modalIsInstructions);
    QCOMPARE(visit.titleSlot, kFrenchTitle);
    QCOMPARE(exitClicks.size(), 0);
    QVERIFY(m_start->isVisible());

    // Enter on EXIT leaves.
    control("cmdEsci")->setFocus();
    QTest::keyClick(m_start->windowHandle(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(exitClicks.size(), 1);
    QVERIFY(!m_start->isVisible());
}

void TestStartWindow::languageButtonLoadsThenOpens_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("title");
    QTest::newRow("ITALIANO") << "cmdItalia" << kItalianTitle;
    QTest::newRow("ENGLISH") << "cmdInghilterra" << kEnglishTitle;
    QTest::newRow("FRANCAIS") << "cmdFrancia" << kFrenchTitle;
    QTest::newRow("DEUTSCH") << "cmdGermania" << kGermanTitle;
}

void TestStartWindow::languageButtonLoadsThenOpens()
{
    QFETCH(QString, button);
    QFETCH(QString, title);
    const ModalVisit visit = visitModal(
        [&] { QTest::mouseClick(m_start->findChild<QToolButton *>(button), Qt::LeftButton); });
    QVERIFY2(visit.happened, "the instruction window did not open");
    QVERIFY(visit.modalIsInstructions);
    QVERIFY(visit.instructionsVisible);
    // The catalogue was filled in the chosen language before the window came up.
    QCOMPARE(visit.titleSlot, title);
    // Back on the start window once the instruction window is gone.
    QVERIFY(!frmIstruzioni::instance().isVisible());
    QVERIFY(m_start->isVisible());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    // Choosing a language changes nothing on the start window itself.
    QCOMPARE(m_start->windowTitle(), QStringLiteral("Upgrade Bios K410"));
    for (const ControlRow &row : kControls) {
        auto *widget = control<QWidget>(row.name);
        QCOMPARE(widget->geometry(), row.pixels);
        if (row.caption)
            QCOMPARE(captionOf(widget), QString::fromUtf8(row.caption));
    }
}

void TestStartWindow::startWindowBlockedWhileInstructionsUp()
{
    QWindow *startWindow = m_start->windowHandle();
    auto *english = control("cmdInghilterra");
    auto *exit = control("cmdEsci");
    QSignalSpy englishClicks(english, &QToolButton::clicked);
    QSignalSpy exitClicks(exit, &QToolButton::clicked);
    const QPoint englishCentre = english->geometry().center();
    const QPoint exitCentre = exit->geometry().center();

    const ModalVisit visit = visitModal(
        [&] { QTest::mouseClick(control("cmdItalia"), Qt::LeftButton); },
        [&] {
            // Real clicks and keys through the window system, which the modal
            // instruction window must block.
            QTest::mouseClick(startWindow, Qt::LeftButton, {}, englishCentre);
            QTest::mouseClick(startWindow, Qt::LeftButton, {}, exitCentre);
            QTest::keyClick(startWindow, Qt::Key_Escape);
        });
    QVERIFY(visit.happened);
    QCOMPARE(visit.titleSlot, kItalianTitle);
    QCOMPARE(englishClicks.size(), 0);
    QCOMPARE(exitClicks.size(), 0);
    QCOMPARE(Variabili::strTitle, kItalianTitle);
    QVERIFY(m_start->isVisible());

    // The same click goes through once the instruction window has closed.
    const ModalVisit again =
        visitModal([&] { QTest::mouseClick(startWindow, Qt::LeftButton, {}, englishCentre); });
    QCOMPARE(englishClicks.size(), 1);
    QVERIFY(again.happened);
    QCOMPARE(again.titleSlot, kEnglishTitle);
}

void TestStartWindow::languageAgainAfterClosing()
{
    // English, closed, then German: the same instance opens again, now in German.
    const ModalVisit first =
        visitModal([&] { QTest::mouseClick(control("cmdInghilterra"), Qt::LeftButton); });
    QCOMPARE(first.titleSlot, kEnglishTitle);
    QWidget *firstWindow = &frmIstruzioni::instance();
    const ModalVisit second =
        visitModal([&] { QTest::mouseClick(control("cmdGermania"), Qt::LeftButton); });
    QVERIFY(second.happened);
    QVERIFY(second.modalIsInstructions);
    QCOMPARE(second.titleSlot, kGermanTitle);
    QCOMPARE(&frmIstruzioni::instance(), firstWindow);
    QCOMPARE(Variabili::strIstrCable.left(15), QStringLiteral("Verbinden Sie d"));
}

void TestStartWindow::applicationIdentity()
{
    QCOMPARE(QApplication::applicationName(), QStringLiteral("k410-bios"));
    QCOMPARE(QApplication::applicationVersion(), QStringLiteral("1.00"));
    QCOMPARE(QApplication::organizationName(), AppIdentity::kCompanyName);
    const QIcon icon = QApplication::windowIcon();
    const QList<QSize> sizes = icon.availableSizes();
    QVERIFY2(sizes.contains(QSize(16, 16)), "16 x 16 icon missing");
    QVERIFY2(sizes.contains(QSize(32, 32)), "32 x 32 icon missing");
    // Both windows carry the application's icon.
    QCOMPARE(m_start->windowIcon().availableSizes(), sizes);
    QCOMPARE(frmIstruzioni::instance().windowIcon().availableSizes(), sizes);
    // Same picture at both sizes: the 32 px one reduced looks like the 16 px one.
    const QImage big = icon.pixmap(QSize(32, 32)).toImage();
    const QImage small = icon.pixmap(QSize(16, 16)).toImage();
    QCOMPARE(small.size(), QSize(16, 16));
    QCOMPARE(big.size(), QSize(32, 32));
    int differing = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (!near(small.pixelColor(x, y), big.pixelColor(2 * x, 2 * y), 60))
                ++differing;
    QVERIFY2(differing < 32, qPrintable(QString::number(differing)));
}

// --help and --version answer and end the program before a window could
// open; what it does not know gets a short error and status 2; Qt's own
// options (and their values) pass on to the window.
void TestStartWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status"); // -1: the window opens
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("none") << QStringList() << -1 << "" << "";
    QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage: k410-bios [--help] [--version]\n" << "";
    QTest::newRow("-h after a Qt option") << QStringList{"-platform", "offscreen", "-h"} << 0 << "Usage: " << "";
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "k410-bios 1.00\n" << "";
    QTest::newRow("-v") << QStringList{"-v"} << 0 << "k410-bios 1.00\n" << "";
    QTest::newRow("Qt options only") << QStringList{"-style", "fusion", "--reverse"} << -1 << "" << "";
    QTest::newRow("unknown option") << QStringList{"--backup"} << 2 << ""
                                    << "k410-bios: unknown option '--backup'\nTry 'k410-bios --help'.\n";
    QTest::newRow("a file name") << QStringList{"release.bio"} << 2 << "" << "k410-bios: unexpected argument";
    QTest::newRow("a Qt option's value is not an argument") << QStringList{"-platform", "--help"} << -1 << "" << "";
}

void TestStartWindow::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const std::optional<CommandLine::Answer> answer = CommandLine::answer(args);
    QCOMPARE(answer ? answer->exitCode : -1, status);
    if (!answer)
        return;
    // Each stream holds what the row says it starts with, and nothing when it says nothing.
    QVERIFY2(out.isEmpty() ? answer->out.isEmpty() : answer->out.startsWith(out.toUtf8()), answer->out.constData());
    QVERIFY2(err.isEmpty() ? answer->err.isEmpty() : answer->err.startsWith(err.toUtf8()), answer->err.constData());
}

void TestStartWindow::versionResource()
{
    QFile rc(QStringLiteral(K410_APP_DIR "/k410-bios.rc"));
    QVERIFY(rc.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(rc.readAll());
    QVERIFY(text.contains(QRegularExpression(QStringLiteral("FILEVERSION\\s+1,0,0,0"))));
    QVERIFY(text.contains(QRegularExpression(QStringLiteral("PRODUCTVERSION\\s+1,0,0,0"))));
    QVERIFY(text.contains(QStringLiteral("BLOCK \"040904B0\"")));
    auto value = [&](const QString &key) {
        const QRegularExpression re(QStringLiteral("VALUE\\s+\"%1\",\\s+\"([^\"]*)\"").arg(key));
        return re.match(text).captured(1);
    };
    QCOMPARE(value(QStringLiteral("FileVersion")), QStringLiteral("1.00"));
    QCOMPARE(value(QStringLiteral("ProductVersion")), QStringLiteral("1.00"));
    QCOMPARE(value(QStringLiteral("CompanyName")), AppIdentity::kCompanyName);
    QCOMPARE(value(QStringLiteral("InternalName")), AppIdentity::kApplicationName);
    QCOMPARE(value(QStringLiteral("OriginalFilename")), QStringLiteral("k410-bios.exe"));
    QVERIFY(!value(QStringLiteral("ProductName")).isEmpty());
    // The icon it names is there, with both sizes.
    const QRegularExpression iconLine(QStringLiteral("ICON\\s+\"([^\"]+)\""));
    const QString iconFile = iconLine.match(text).captured(1);
    QVERIFY(!iconFile.isEmpty());
    QFile ico(QStringLiteral(K410_APP_DIR "/") + iconFile);
    QVERIFY(ico.open(QIODevice::ReadOnly));
    const QByteArray header = ico.read(6);
    QCOMPARE(header.left(4), QByteArray("\0\0\1\0", 4)); // icon resource, not a cursor
    QCOMPARE(int(quint8(header.at(4))), 2);               // two images
}

void TestStartWindow::pictures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    const QList<std::pair<const char *, QSize>> pictures{
        {"flag_it.svg", {170, 113}},     {"flag_gb.svg", {170, 113}},
        {"flag_fr.svg", {170, 113}},     {"flag_de.svg", {170, 113}},
        {"door.svg", {50, 50}},          {"logo.svg", {495, 97}},
        {"icon.svg", {32, 32}},          {"icon16.png", {16, 16}},
        {"icon32.png", {32, 32}},        {"notebook.svg", {170, 197}},
        {"panel.svg", {170, 184}},       {"wiring_db25.svg", {332, 275}},
        {"wiring_db9.svg", {323, 115}},  {"adapter.svg", {304, 160}},
        {"unit1.svg", {198, 282}},       {"unit2.svg", {198, 282}},
        {"arrow_white.svg", {32, 32}},   {"btn_next.svg", {32, 32}},
        {"btn_prev.svg", {32, 32}},      {"btn_exit.svg", {32, 32}},
    };
    for (const auto &[file, size] : pictures)
        QTest::newRow(file) << QString::fromLatin1(file) << size;
}

void TestStartWindow::pictures()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    const QString path = QStringLiteral(":/img/") + file;
    QVERIFY2(QFile::exists(path), qPrintable(path));
    if (file.endsWith(QLatin1String(".png"))) {
        const QImage image(path);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), size);
        return;
    }
    QSvgRenderer renderer(path);
    QVERIFY2(renderer.isValid(), qPrintable(path));
    QCOMPARE(renderer.defaultSize(), size);
    // Something is drawn: at least a tenth of the picture is not transparent.
    const QImage image = renderSvg(path, size);
    qsizetype opaque = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            opaque += qAlpha(image.pixel(x, y)) > 128;
    QVERIFY2(opaque * 10 >= qsizetype(size.width()) * size.height(),
             qPrintable(QString::number(opaque)));
}

void TestStartWindow::transparentBackgrounds_data()
{
    QTest::addColumn<QString>("file");
    for (const char *file : {"wiring_db25.svg", "wiring_db9.svg", "arrow_white.svg",
                             "btn_next.svg", "btn_prev.svg", "btn_exit.svg", "door.svg"})
        QTest::newRow(file) << QString::fromLatin1(file);
}

void TestStartWindow::transparentBackgrounds()
{
    // These pictures lie on coloured windows and buttons (and the two wiring
    // drawings over each other): their corners must let the background through.
    QFETCH(QString, file);
    const QString path = QStringLiteral(":/img/") + file;
    const QSize size = QSvgRenderer(path).defaultSize();
    const QImage image = renderSvg(path, size);
    for (const QPoint corner : {QPoint(0, 0), QPoint(size.width() - 1, 0),
                                QPoint(0, size.height() - 1),
                                QPoint(size.width() - 1, size.height() - 1)})
        QCOMPARE(qAlpha(image.pixel(corner)), 0);
}

QTEST_MAIN(TestStartWindow)
#include "test_app.moc"
