#include "frmStart.h"

#include "AppIdentity.h"
#include "ButtonKeys.h"
#include "Testfile.h"
#include "WindowLayout.h"
#include "frmIstruzioni.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>

using namespace WindowLayout;

namespace {

/// A label's text must fit its fixed width. Tahoma does; a wider substitute
/// font is narrowed (same point size) until the text fits instead of being cut.
void narrowToFit(QLabel *label)
{
    QFont font = label->font();
    const int room = label->width();
    auto fits = [&](const QFont &f) {
        const QFontMetrics m(f);
        const QRect ink = m.boundingRect(label->text());
        return m.horizontalAdvance(label->text()) <= room && ink.right() < room;
    };
    for (int stretch = 99; !fits(font) && stretch >= 60; --stretch)
        font.setStretch(stretch);
    label->setFont(font);
}

QToolButton *graphicalButton(QWidget *parent, const QString &name, const QString &caption,
                             const QRect &geometry, const QColor &back, const QString &picture,
                             QSize pictureSize)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    button->setGeometry(geometry);
    button->setFont(tahoma(12));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIcon(QIcon(WindowLayout::picture(picture, pictureSize)));
    button->setIconSize(pictureSize);
    // Command buttons take the focus when clicked, as on the original platform.
    button->setFocusPolicy(Qt::StrongFocus);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, back);
    palette.setColor(QPalette::ButtonText, Qt::black);
    button->setPalette(palette);
    return button;
}

QLabel *yellowLabel(QWidget *parent, const QString &name, const QString &text,
                    const QRect &geometry, const QFont &font)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kYellow);
    label->setPalette(palette);
    narrowToFit(label);
    return label;
}

} // namespace

frmStart::frmStart(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmStart"));
    setWindowTitle(QStringLiteral("Upgrade Bios K410"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kDarkBlue);
    setPalette(palette);
    setAutoFillBackground(true);
    resize(px(11880), px(8595));

    buildControls();
    wireEvents();
    cmdItalia->setFocus();
}

void frmStart::buildControls()
{
    const QSize flag(170, 113);
    // Created in tab order: the language buttons, the labels, then EXIT.
    cmdItalia = graphicalButton(this, QStringLiteral("cmdItalia"), QStringLiteral("ITALIANO"),
                                twips(2160, 3000, 3015, 2535), kTeal, QStringLiteral("flag_it.svg"),
                                flag);
    cmdInghilterra = graphicalButton(this, QStringLiteral("cmdInghilterra"),
                                     QStringLiteral("ENGLISH"), twips(6240, 3000, 3015, 2535),
                                     kTeal, QStringLiteral("flag_gb.svg"), flag);
    cmdFrancia = graphicalButton(this, QStringLiteral("cmdFrancia"), QStringLiteral("FRANCAIS"),
                                 twips(2160, 5760, 3015, 2535), kTeal,
                                 QStringLiteral("flag_fr.svg"), flag);
    cmdGermania = graphicalButton(this, QStringLiteral("cmdGermania"), QStringLiteral("DEUTSCH"),
                                  twips(6240, 5760, 3015, 2535), kTeal,
                                  QStringLiteral("flag_de.svg"), flag);

    QFont titleFont = tahoma(48);
    titleFont.setItalic(true);
    Label1 = yellowLabel(this, QStringLiteral("Label1"), QStringLiteral("Upgrade Bios K410"),
                         twips(480, 1560, 9105, 1155), titleFont);
    Label2 = yellowLabel(this, QStringLiteral("Label2"), AppIdentity::kCompanyName,
                         twips(7080, 240, 2280, 285), tahoma(12));
    Label3 = yellowLabel(this, QStringLiteral("Label3"), AppIdentity::kStreet,
                         twips(7080, 600, 2295, 285), tahoma(12));
    Label4 = yellowLabel(this, QStringLiteral("Label4"), AppIdentity::kTown,
                         twips(7080, 960, 2820, 285), tahoma(12));
    Label5 = yellowLabel(this, QStringLiteral("Label5"), AppIdentity::kPhoneFax,
                         twips(7080, 1320, 4230, 285), tahoma(12));

    cmdEsci = graphicalButton(this, QStringLiteral("cmdEsci"), QStringLiteral("EXIT"),
                              twips(10200, 6840, 1095, 1395), kPaleYellow,
                              QStringLiteral("door.svg"), QSize(50, 50));

    // The logo is stretched to its control, so it is drawn at the control's size.
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(twips(120, 120, 6045, 1155));
    Image1->setScaledContents(true);
    Image1->setPixmap(picture(QStringLiteral("logo.svg"), Image1->size()));

    setTabOrder(cmdItalia, cmdInghilterra);
    setTabOrder(cmdInghilterra, cmdFrancia);
    setTabOrder(cmdFrancia, cmdGermania);
    setTabOrder(cmdGermania, cmdEsci);
}

void frmStart::wireEvents()
{
    connect(cmdItalia, &QToolButton::clicked, this, &frmStart::cmdItalia_Click);
    connect(cmdInghilterra, &QToolButton::clicked, this, &frmStart::cmdInghilterra_Click);
    connect(cmdFrancia, &QToolButton::clicked, this, &frmStart::cmdFrancia_Click);
    connect(cmdGermania, &QToolButton::clicked, this, &frmStart::cmdGermania_Click);
    connect(cmdEsci, &QToolButton::clicked, this, &frmStart::cmdEsci_Click);
}

void frmStart::keyPressEvent(QKeyEvent *event)
{
    const bool plain = event->modifiers() == Qt::NoModifier
                       || event->modifiers() == Qt::KeypadModifier;
    if (plain && event->key() == Qt::Key_Escape) {
        cmdEsci->click();
        return;
    }
    if (clickFocusedButton(*this, *event))
        return;
    QWidget::keyPressEvent(event);
}

void frmStart::openInstructions(void (*loader)())
{
    loader();
    frmIstruzioni::instance().ShowModal();
}

void frmStart::cmdItalia_Click()
{
    openInstructions(&Testfile::LoadItalian);
}

void frmStart::cmdInghilterra_Click()
{
    openInstructions(&Testfile::LoadEnglish);
}

void frmStart::cmdFrancia_Click()
{
    openInstructions(&Testfile::LoadFrench);
}

void frmStart::cmdGermania_Click()
{
    openInstructions(&Testfile::LoadGerman);
}

void frmStart::cmdEsci_Click()
{
    close();
}
