#include "frmIstruzioni.h"

#include "ButtonKeys.h"
#include "CommControl.h"
#include "Controls.h"
#include "DlgOpen.h"
#include "EventPump.h"
#include "MSComm.h"
#include "ProgressBar.h"
#include "RunRecord.h"
#include "StartProcedure.h"
#include "Variabili.h"
#include "WindowLayout.h"
#include "WindowViews.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QToolButton>

using namespace Variabili;
using namespace WindowLayout;

namespace {

// Sets a background and a text colour in every colour group, the disabled one
// included, so a disabled control keeps the look of the layout.
void setColours(QWidget *widget, QPalette::ColorRole backRole, const QColor &back,
                QPalette::ColorRole foreRole, const QColor &fore)
{
    QPalette palette = widget->palette();
    palette.setColor(backRole, back);
    palette.setColor(foreRole, fore);
    widget->setPalette(palette);
}

// The raised look of the window's graphical-style command buttons.
QString buttonStyle(const QColor &back)
{
    return QStringLiteral("QAbstractButton { background-color: %1; color: black;"
                          " border: 2px outset %2; padding: 1px; }"
                          "QAbstractButton:pressed { border-style: inset; }"
                          "QAbstractButton:disabled { color: gray; }"
                          "QAbstractButton:focus { border: 2px solid black; }")
        .arg(back.name(), back.darker(130).name());
}

template <class Widget>
Widget *place(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

// Visual Basic's shift-state bits: 1 Shift, 2 Ctrl, 4 Alt.
int shiftState(Qt::KeyboardModifiers modifiers)
{
    int shift = 0;
    if (modifiers & Qt::ShiftModifier)
        shift |= 1;
    if (modifiers & Qt::ControlModifier)
        shift |= 2;
    if (modifiers & Qt::AltModifier)
        shift |= 4;
    return shift;
}

} // namespace

frmIstruzioni &frmIstruzioni::instance()
{
    static frmIstruzioni *window = new frmIstruzioni;
    return *window;
}

frmIstruzioni::frmIstruzioni(QWidget *parent)
    : QDialog(parent), m_comm(std::make_unique<MSComm>())
{
    setObjectName(QStringLiteral("frmIstruzioni"));
    // Client area 11880 x 8595 twips, sizable frame, teal.
    resize(px(11880), px(8595));
    setColours(this, QPalette::Window, kTeal, QPalette::WindowText, kBlack);
    setAutoFillBackground(true);
    // No icon of its own: the window shows the application's icon, set once
    // at start-up for every window.
}

frmIstruzioni::~frmIstruzioni() = default;

void frmIstruzioni::ShowModal()
{
    if (isVisible())
        return;
    Load();
    exec();
    // Whoever ended the modal loop, the window leaves unloaded, so the next
    // show loads it afresh in the then-current language.
    Unload();
}

void frmIstruzioni::Load()
{
    if (isLoaded())
        return;
    buildControls();
    buildTabOrder();
    wireEvents();
    Form_Load();
    m_controls.cmdOk->setFocus();
}

void frmIstruzioni::Unload()
{
    if (!isLoaded())
        return;
    if (operationRunning()) {
        // Destroying the controls under a running loop would pull the floor from
        // under it: ask it to stop and unload once it has ended.
        requestClose();
        return;
    }
    unwireEvents();
    if (isVisible())
        done(QDialog::Rejected); // ends ShowModal's exec()

    // The unload may come from a click handler of one of the controls, so the
    // controls are detached now and destroyed once that event has been handled.
    QWidget *form = m_form;
    m_form = nullptr;
    m_controls = {};
    m_dlgOpen.reset();
    form->hide();
    form->setParent(nullptr);
    form->deleteLater();
}

QTextEdit *frmIstruzioni::Controls::Text1(int index) const
{
    switch (index) {
    case 0:
        return Text1_0;
    case 6:
        return Text1_6;
    default:
        return nullptr;
    }
}

QRadioButton *frmIstruzioni::Controls::optCom(int port) const
{
    switch (port) {
    case 1: return optCom1;
    case 2: return optCom2;
    case 3: return optCom3;
    case 4: return optCom4;
    default: return nullptr;
    }
}

void frmIstruzioni::setCommControl(std::unique_ptr<CommControl> port)
{
    if (!port)
        port = std::make_unique<MSComm>();
    m_comm = std::move(port);
    if (isLoaded())
        wireEvents();
}

void frmIstruzioni::clearOptions(std::initializer_list<QRadioButton *> options)
{
    for (QRadioButton *option : options) {
        const bool exclusive = option->autoExclusive();
        option->setAutoExclusive(false);
        option->setChecked(false);
        option->setAutoExclusive(exclusive);
    }
}

// ---- Building the window -------------------------------------------------

void frmIstruzioni::buildControls()
{
    Controls &c = m_controls;
    m_form = new QWidget(this);
    m_form->setGeometry(rect());

    // Pictures first, so that labels, text boxes and the button bar lie above them.
    auto image = [this](const char *name, const QRect &geometry, const QString &file) {
        auto *label = place<QLabel>(m_form, name, geometry);
        label->setPixmap(picture(file, geometry.size()));
        return label;
    };
    c.Image5 = image("Image5", twips(240, 4440, 2970, 4230), QStringLiteral("unit1.svg"));
    c.Image6 = image("Image6", twips(8700, 4440, 2970, 4230), QStringLiteral("unit2.svg"));
    c.Image4 = image("Image4", twips(1920, 4680, 4560, 2400), QStringLiteral("adapter.svg"));
    c.Image7 = image("Image7", twips(480, 3600, 2550, 2760), QStringLiteral("panel.svg"));
    c.Image8 = image("Image8", twips(0, 4800, 480, 480), QStringLiteral("arrow_white.svg"));
    c.Image3 = image("Image3", twips(3360, 3600, 4980, 4125), QStringLiteral("wiring_db25.svg"));
    c.Image2 = image("Image2", twips(2280, 6720, 4845, 1725), QStringLiteral("wiring_db9.svg"));
    c.Image1 = image("Image1", twips(9000, 5040, 2550, 2955), QStringLiteral("notebook.svg"));
    c.Image5->hide();
    c.Image6->hide();
    c.Image4->hide();

    // Labels: opaque on teal, so they stay readable over the drawings.
    auto label = [this](const char *name, const QRect &geometry, const QString &caption,
                        const QFont &font, const QColor &fore) {
        auto *label = place<CaptionLabel>(m_form, name, geometry);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setText(caption);
        label->setFont(font);
        setColours(label, QPalette::Window, kTeal, QPalette::WindowText, fore);
        label->setAutoFillBackground(true);
        return label;
    };
    c.Label3 = label("Label3", twips(480, 6480, 900, 435), QStringLiteral("V410"), msSansSerif(18), kBlack);
    c.Label4 = label("Label4", twips(3360, 5880, 3810, 435), QStringLiteral("DB9                 DB9/25"),
                     msSansSerif(18), kBlack);
    c.Label5 = label("Label5", twips(9960, 4305, 540, 435), QStringLiteral("PC"), msSansSerif(18), kBlack);
    c.Label2 = label("Label2", twips(3360, 6480, 5100, 405), QStringLiteral("Label2"), comicSans(14.25), kYellow);
    c.Label2->hide();

    c.ProgressBar1 = place<ProgressBar>(m_form, "ProgressBar1", twips(3360, 5520, 5175, 495));
    c.ProgressBar1->hide();

    // The port frame and the mode frame, in the middle of the window.
    auto frame = [this](const char *name, const QRect &geometry, const QString &caption) {
        auto *frame = place<CaptionFrame>(m_form, name, geometry);
        frame->setTitle(caption);
        frame->setFont(tahoma(9.75));
        setColours(frame, QPalette::Window, kPeach, QPalette::WindowText, kBlack);
        frame->setAutoFillBackground(true);
        return frame;
    };
    auto option = [](QGroupBox *frame, const char *name, const QRect &geometry, const QString &caption) {
        auto *option = place<CaptionOption>(frame, name, geometry);
        option->setText(caption);
        option->setFont(tahoma(9.75));
        setColours(option, QPalette::Window, kPeach, QPalette::WindowText, kBlack);
        // A port the test could not open reads greyed out.
        QPalette palette = option->palette();
        palette.setColor(QPalette::Disabled, QPalette::WindowText, Qt::gray);
        option->setPalette(palette);
        return option;
    };
    c.FraCom = frame("FraCom", twips(4440, 5040, 2800, 1575), QStringLiteral("strFraCom"));
    c.optCom1 = option(c.FraCom, "optCom1", twips(360, 450, 1005, 255), QStringLiteral("Com1"));
    c.optCom2 = option(c.FraCom, "optCom2", twips(360, 840, 1005, 255), QStringLiteral("Com2"));
    c.optCom3 = option(c.FraCom, "optCom3", twips(1440, 480, 1005, 255), QStringLiteral("Com3"));
    c.optCom4 = option(c.FraCom, "optCom4", twips(1440, 870, 1005, 255), QStringLiteral("Com4"));
    for (QRadioButton *port : {c.optCom1, c.optCom2, c.optCom3, c.optCom4})
        port->setEnabled(false);
    c.FraCom->hide();

    c.fraMode = frame("fraMode", twips(4440, 4920, 2800, 1575), QStringLiteral("strFramode"));
    c.optBakUp = option(c.fraMode, "optBakUp", twips(360, 480, 2205, 255), QStringLiteral("Backup + Upgrade"));
    c.optUpgr = option(c.fraMode, "optUpgr", twips(360, 840, 1245, 255), QStringLiteral("Upgrade"));
    c.optBakUp->setChecked(true);
    c.fraMode->hide();

    // The members of the Text1 array: multi-line plain text wrapping at words,
    // no scroll bars, Tab moving on to the next control.
    auto textBox = [this](const char *name, int index, const QRect &geometry, const QString &text,
                          const QFont &font, const QColor &back, const QColor &fore) {
        auto *box = place<QTextEdit>(m_form, name, geometry);
        box->setProperty("index", index);
        box->setAcceptRichText(false);
        box->setLineWrapMode(QTextEdit::WidgetWidth);
        box->setWordWrapMode(QTextOption::WordWrap);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->setTabChangesFocus(true);
        box->setFont(font);
        setColours(box, QPalette::Base, back, QPalette::Text, fore);
        box->setPlainText(text);
        return box;
    };
    // The instruction box: disabled, black on light grey even so.
    c.Text1_0 = textBox("Text1_0", 0, twips(240, 240, 11445, 3240), QStringLiteral("Istruzione 1\r\n"), tahoma(18),
                        kLightGrey, kBlack);
    c.Text1_0->setEnabled(false);
    // The status line: yellow on teal, two lines of text in its height.
    c.Text1_6 = textBox("Text1_6", 6, twips(360, 3600, 11200, 720), QStringLiteral("Attesa comandi"),
                        tahoma(14.25), kTeal, kYellow);
    c.Text1_6->setFrameShape(QFrame::NoFrame);
    c.Text1_6->document()->setDocumentMargin(1);
    c.Text1_6->hide();

    c.txtError = place<ErrorBox>(m_form, "txtError", twips(240, 4320, 11175, 375));
    c.txtError->setFrame(false);
    c.txtError->setFont(tahoma(14.25));
    setColours(c.txtError, QPalette::Base, kTeal, QPalette::Text, kYellow);
    c.txtError->hide();

    // The button bar, above the lower right corner of the instruction box. Its
    // design caption "Frame1" is not shown: the bar is a plain dark-blue panel.
    c.fraTasti = place<QFrame>(m_form, "fraTasti", twips(6960, 2640, 4575, 795));
    setColours(c.fraTasti, QPalette::Window, kDarkBlue, QPalette::WindowText, kBlack);
    c.fraTasti->setAutoFillBackground(true);

    auto pictureButton = [&c](const char *name, const QRect &geometry, const QString &caption,
                              const QString &file) {
        auto *button = place<QToolButton>(c.fraTasti, name, geometry);
        button->setText(caption);
        button->setFont(msSansSerif(8.25));
        button->setFocusPolicy(Qt::StrongFocus);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        const QSize iconSize(20, 20);
        button->setIconSize(iconSize);
        const QPixmap icon = picture(file, iconSize);
        if (!icon.isNull())
            button->setIcon(QIcon(icon));
        button->setStyleSheet(buttonStyle(kPaleYellow));
        return button;
    };
    auto plainButton = [&c](const char *name, const QRect &geometry, const QString &caption) {
        auto *button = place<CaptionButton>(c.fraTasti, name, geometry);
        button->setText(caption);
        button->setFont(msSansSerif(9.75));
        // No default button on this window: Enter must not click anything.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setStyleSheet(buttonStyle(kGreen));
        QPalette palette = button->palette();
        palette.setColor(QPalette::ButtonText, kBlack);
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::gray);
        button->setPalette(palette);
        return button;
    };
    c.cmdCom = plainButton("cmdCom", twips(120, 120, 2565, 615), QStringLiteral("Command1"));
    c.cmdStart = plainButton("cmdStart", twips(120, 120, 2535, 615), QStringLiteral("Start"));
    c.cmdPrec = pictureButton("cmdPrec", twips(120, 120, 1215, 615), QStringLiteral("Preview"),
                              QStringLiteral("btn_prev.svg"));
    c.cmdOk = pictureButton("cmdOk", twips(1440, 120, 1215, 615), QStringLiteral("Next"),
                            QStringLiteral("btn_next.svg"));
    c.cmdAnnulla = pictureButton("cmdAnnulla", twips(2880, 120, 1575, 615), QStringLiteral("Exit"),
                                 QStringLiteral("btn_exit.svg"));
    c.cmdCom->hide();
    c.cmdStart->hide();
    c.cmdPrec->hide();

    c.dlgOpen = (m_dlgOpen = std::make_unique<DlgOpen>(this)).get();
    m_form->show();
}

void frmIstruzioni::buildTabOrder()
{
    const Controls &c = m_controls;
    // The controls that can take the focus, by tab index.
    const QList<QWidget *> order{c.cmdOk,   c.cmdPrec, c.Text1_0, c.optUpgr, c.optBakUp, c.Text1_6,    c.txtError,
                                 c.optCom1, c.optCom2, c.optCom3, c.optCom4, c.cmdCom,   c.cmdAnnulla, c.cmdStart};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void frmIstruzioni::wireEvents()
{
    const Controls &c = m_controls;
    unwireEvents();
    auto link = [this](auto *sender, auto signal, void (frmIstruzioni::*handler)()) {
        m_connections << connect(sender, signal, this, handler);
    };
    link(c.cmdOk, &QAbstractButton::clicked, &frmIstruzioni::cmdOk_Click);
    link(c.cmdPrec, &QAbstractButton::clicked, &frmIstruzioni::cmdPrec_Click);
    link(c.cmdAnnulla, &QAbstractButton::clicked, &frmIstruzioni::cmdAnnulla_Click);
    // Option buttons act on the user's click, not on every change of state.
    link(c.optCom1, &QAbstractButton::clicked, &frmIstruzioni::optCom1_Click);
    link(c.optCom2, &QAbstractButton::clicked, &frmIstruzioni::optCom2_Click);
    link(c.optCom3, &QAbstractButton::clicked, &frmIstruzioni::optCom3_Click);
    link(c.optCom4, &QAbstractButton::clicked, &frmIstruzioni::optCom4_Click);
    link(c.optBakUp, &QAbstractButton::clicked, &frmIstruzioni::optBakUp_Click);
    link(c.optUpgr, &QAbstractButton::clicked, &frmIstruzioni::optUpgr_Click);
    link(c.cmdCom, &QAbstractButton::clicked, &frmIstruzioni::cmdCom_Click);
    link(c.cmdStart, &QAbstractButton::clicked, &frmIstruzioni::cmdStart_Click);
    link(&MSComm1(), &CommControl::OnComm, &frmIstruzioni::MSComm1_OnComm);
    // Key down of the Text1 array: seen by eventFilter() before the box handles the key.
    c.Text1_0->installEventFilter(this);
    c.Text1_6->installEventFilter(this);
}

void frmIstruzioni::unwireEvents()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
}

void frmIstruzioni::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (m_form)
        m_form->setGeometry(rect());
}

// ---- Handlers of the window ---------------------------------------------

void frmIstruzioni::Form_Load()
{
    const Controls &c = m_controls;
    setWindowTitle(strTitle);
    c.Text1(0)->setPlainText(strIstrCable);
    c.cmdCom->setText(strPortTest);
}

void frmIstruzioni::Text1_KeyDown(int index, int keyCode, int shift)
{
    Q_UNUSED(index);
    Q_UNUSED(shift);
    if (keyCode != 0)
        strFerma = kFerma;
}

void frmIstruzioni::keyPressEvent(QKeyEvent *event)
{
    if (clickFocusedButton(*this, *event))
        return;
    QDialog::keyPressEvent(event);
}

bool frmIstruzioni::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && m_form) {
        const int index = watched == m_controls.Text1_0 ? 0 : watched == m_controls.Text1_6 ? 6 : -1;
        if (index >= 0) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const int keyCode = key->key() != 0 ? key->key() : int(key->nativeVirtualKey());
            Text1_KeyDown(index, keyCode, shiftState(key->modifiers()));
        }
    }
    return false; // never consumed: the box goes on to handle the key
}

// ---- Navigation -----------------------------------------------------------

void frmIstruzioni::cmdOk_Click()
{
    const Controls &c = m_controls;
    // Mode capture, on every click at every step.
    if (c.optBakUp->isChecked())
        bytMode = 1;
    if (c.optUpgr->isChecked())
        bytMode = 2;

    QTextEdit *instruction = c.Text1(0);
    const QString step = instruction->toPlainText();
    if (step == strIstrCable) {
        // Cable step -> port-test step.
        instruction->setPlainText(strIstrTest);
        for (QWidget *diagram : {static_cast<QWidget *>(c.Label3), static_cast<QWidget *>(c.Label4),
                                 static_cast<QWidget *>(c.Label5), static_cast<QWidget *>(c.Image1),
                                 static_cast<QWidget *>(c.Image2), static_cast<QWidget *>(c.Image3),
                                 static_cast<QWidget *>(c.Image7), static_cast<QWidget *>(c.Image8)})
            diagram->hide();
        c.cmdOk->hide();
        c.cmdCom->show();
    } else if (!c.FraCom->isHidden()) {
        // Manual-port step (a port has been chosen) -> power-off step.
        c.FraCom->hide();
        c.Image4->show();
        instruction->setPlainText(strIstrPowerOff);
    } else if (step == strIstrPowerOff) {
        // Power-off step -> mode step.
        instruction->setPlainText(strIstrMode);
        c.Image4->hide();
        c.fraMode->setTitle(strFramode);
        c.fraMode->show();
        c.cmdPrec->show();
    } else if (step == strIstrMode) {
        // Mode step -> start step.
        c.fraMode->hide();
        instruction->setPlainText(strIstrStart);
        c.cmdStart->setText(c.optBakUp->isChecked() ? strStartBackUp : strStartUpgr);
        c.cmdStart->show();
        c.cmdOk->hide();
        c.cmdPrec->hide();
    }
}

void frmIstruzioni::cmdPrec_Click()
{
    const Controls &c = m_controls;
    QTextEdit *instruction = c.Text1(0);
    const QString step = instruction->toPlainText();
    if (step == strIstrMode) {
        // Mode step -> power-off step; Next and Previous stay shown.
        instruction->setPlainText(strIstrPowerOff);
        c.Image4->show();
        c.fraMode->hide();
    } else if (step == strIstrPowerOff) {
        // Power-off step -> port-test step; the status line stays shown, emptied.
        instruction->setPlainText(strIstrTest);
        c.Text1(6)->setPlainText(QString());
        c.Image4->hide();
        c.cmdCom->show();
        c.cmdCom->setEnabled(true);
        c.cmdPrec->hide();
        c.cmdOk->hide();
        c.FraCom->hide();
    } else if (!c.FraCom->isHidden()) {
        // Manual-port step -> port-test step, with no port option selected.
        c.cmdPrec->hide();
        c.cmdOk->hide();
        c.FraCom->hide();
        c.cmdCom->show();
        c.cmdCom->setEnabled(true);
        clearOptions({c.optCom1, c.optCom2, c.optCom3, c.optCom4});
        c.Text1(6)->hide();
    }
}

void frmIstruzioni::cmdAnnulla_Click()
{
    if (MSComm1().PortOpen())
        strFerma = kFerma;
    else
        Unload();
}

void frmIstruzioni::optCom_Click(int port)
{
    const Controls &c = m_controls;
    intComPort = qint16(port);
    c.cmdCom->hide();
    c.cmdOk->show();
    c.Text1(6)->setPlainText(strConnected + QString::number(port));
}

void frmIstruzioni::optCom1_Click()
{
    optCom_Click(1);
}

void frmIstruzioni::optCom2_Click()
{
    optCom_Click(2);
}

void frmIstruzioni::optCom3_Click()
{
    optCom_Click(3);
}

void frmIstruzioni::optCom4_Click()
{
    optCom_Click(4);
}

void frmIstruzioni::optBakUp_Click()
{
    bytMode = 1;
}

void frmIstruzioni::optUpgr_Click()
{
    bytMode = 2;
}

// ---- Port test, transfer and serial events ---------------------------------
// Thin handlers: the algorithms live in their cores and reach the window only
// through the adapters of WindowViews.h.

void frmIstruzioni::cmdCom_Click()
{
    OperationScope operation(*this);
    PortTestWindowView view(*this);
    runRecordedPortTest(MSComm1(), EventPump::instance(), view, m_probeTiming);
}

void frmIstruzioni::cmdStart_Click()
{
    OperationScope operation(*this);
    TransferWindowView view(*this);
    runStartProcedure(MSComm1(), EventPump::instance(), view);
}

void frmIstruzioni::MSComm1_OnComm()
{
    CommEventWindowView view(*this);
    ::MSComm1_OnComm(MSComm1(), view);
}

// ---- Closing ----------------------------------------------------------------

void frmIstruzioni::reject()
{
    cmdAnnulla_Click();
}

// The close box is Exit: while the port is open it only raises the stop
// request, so the window stays and shows how the run ended (a part-written
// unit must not go unnoticed); the next close, with the port closed, closes it.
void frmIstruzioni::closeEvent(QCloseEvent *event)
{
    if (!isLoaded()) {
        event->accept();
        return;
    }
    cmdAnnulla_Click();
    if (isLoaded())
        event->ignore();
    else
        event->accept();
}

void frmIstruzioni::requestClose()
{
    m_closePending = true;
    strFerma = kFerma;
}

void frmIstruzioni::finishPendingClose()
{
    if (!m_closePending)
        return;
    m_closePending = false;
    // The close has been carried out: the stop request raised for it must not
    // stop the next operation after the window is opened again.
    strFerma.clear();
    // The window goes away regardless of how the port closes.
    closePortQuietly(MSComm1());
    Unload();
    runAfterEnd();
}

void frmIstruzioni::endProgram(std::function<void()> then)
{
    if (!m_afterEnd)
        m_afterEnd = std::move(then);
    // A file dialog or a question over the window would hold everything up
    // until someone answered it: cancelled, as its own Cancel would.
    for (int i = 0; i < 8; ++i) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == this)
            break;
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }
    if (isLoaded() && operationRunning()) {
        requestClose(); // carried out, and then run, when the operation has ended
        return;
    }
    if (isLoaded()) {
        closePortQuietly(MSComm1());
        Unload();
    }
    runAfterEnd();
}

void frmIstruzioni::runAfterEnd()
{
    if (std::function<void()> then = std::exchange(m_afterEnd, {}))
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(then), Qt::QueuedConnection);
}

frmIstruzioni::OperationScope::OperationScope(frmIstruzioni &window) : m_window(window)
{
    ++m_window.m_operations;
}

frmIstruzioni::OperationScope::~OperationScope()
{
    if (--m_window.m_operations == 0)
        m_window.finishPendingClose();
}
