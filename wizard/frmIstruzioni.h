#pragma once
// The instruction window: the whole maintenance procedure runs on it. It shows
// the current step's instruction, the pictures that go with it, the port and
// mode choices, the button bar, the status line, the error box and the progress
// display, and it owns the serial-port control MSComm1 and the file dialog dlgOpen.
//
// The window is loaded (its controls built at their design-time state) by
// ShowModal() and unloaded by Exit with the port closed: unloading destroys every
// control, so controls() holds nulls while the window is unloaded and new
// controls after the next load. Each control's objectName is its name
// ("cmdOk", "FraCom", ...); the two members of the Text1 array are "Text1_0" and
// "Text1_6".
//
// The wizard keeps no step variable: Next and Previous read the step off the
// window (the instruction box text and whether the port frame is shown).

#include "PortTest.h"

#include <QDialog>
#include <QMetaObject>
#include <QList>
#include <functional>
#include <initializer_list>
#include <memory>

class CommControl;
class DlgOpen;
class ProgressBar;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTextEdit;
class QToolButton;

class frmIstruzioni : public QDialog
{
    Q_OBJECT
public:
    /// The one program-wide instance.
    static frmIstruzioni &instance();
    ~frmIstruzioni() override;

    /// Modal show: loads the window afresh if it is not loaded (running the
    /// load handler with the current catalogue) and returns once it is unloaded.
    void ShowModal();

    /// Build every control at its design-time state, connect the handlers and
    /// run the load handler. Does nothing when the window is already loaded.
    void Load();
    /// Close the window and destroy its controls. While a long operation runs
    /// the unload waits for its end (see OperationScope).
    void Unload();
    bool isLoaded() const { return m_form != nullptr; }

    // ---- Handlers --------------------------------------------------------
    /// Load handler: caption, first instruction and port-test caption from the catalogue.
    void Form_Load();
    /// Key down in a member of Text1: any key (a lone modifier included) raises
    /// the stop request. The key is not consumed.
    void Text1_KeyDown(int index, int keyCode, int shift);
    /// Next: mode capture, then one forward step.
    void cmdOk_Click();
    /// Previous: one backward step.
    void cmdPrec_Click();
    /// Exit: stop request while the serial port is open, otherwise unload.
    void cmdAnnulla_Click();
    /// Manual port choice at the manual-port step.
    void optCom1_Click();
    void optCom2_Click();
    void optCom3_Click();
    void optCom4_Click();
    /// Mode choice at the mode step.
    void optBakUp_Click();
    void optUpgr_Click();
    /// Port test: finds the port on which the unit answers (runPortTest).
    void cmdCom_Click();
    /// Start: the backup and/or upgrade, from start to its ending (runStartProcedure).
    void cmdStart_Click();
    /// MSComm1's OnComm event: a line error while a transfer runs stops it.
    void MSComm1_OnComm();

    // ---- Controls ------------------------------------------------------------
    /// The window's controls, under their names. Every control's objectName is
    /// its name; the two members of the Text1 array are "Text1_0" and "Text1_6".
    /// Built at each load and all null while the window is unloaded.
    struct Controls
    {
        QTextEdit *Text1_0 = nullptr; ///< the instruction box (member 0 of the Text1 array)
        QTextEdit *Text1_6 = nullptr; ///< the status line (member 6)
        QLineEdit *txtError = nullptr;
        QGroupBox *FraCom = nullptr;
        QRadioButton *optCom1 = nullptr;
        QRadioButton *optCom2 = nullptr;
        QRadioButton *optCom3 = nullptr;
        QRadioButton *optCom4 = nullptr;
        QGroupBox *fraMode = nullptr;
        QRadioButton *optBakUp = nullptr;
        QRadioButton *optUpgr = nullptr;
        QFrame *fraTasti = nullptr;
        QToolButton *cmdOk = nullptr;
        QToolButton *cmdPrec = nullptr;
        QPushButton *cmdCom = nullptr;
        QPushButton *cmdStart = nullptr;
        QToolButton *cmdAnnulla = nullptr;
        ProgressBar *ProgressBar1 = nullptr;
        QLabel *Label2 = nullptr;
        QLabel *Label3 = nullptr;
        QLabel *Label4 = nullptr;
        QLabel *Label5 = nullptr;
        QLabel *Image1 = nullptr;
        QLabel *Image2 = nullptr;
        QLabel *Image3 = nullptr;
        QLabel *Image4 = nullptr;
        QLabel *Image5 = nullptr;
        QLabel *Image6 = nullptr;
        QLabel *Image7 = nullptr;
        QLabel *Image8 = nullptr;
        /// The file dialog; made afresh at every load, so its FileName starts empty.
        DlgOpen *dlgOpen = nullptr;

        /// Member 0 or 6 of the Text1 array; null for other indexes.
        QTextEdit *Text1(int index) const;
        /// optCom1 to optCom4 by port number; null for other numbers.
        QRadioButton *optCom(int port) const;
    };
    /// The controls, as the adapters and the tests see them: they act on the
    /// controls but cannot replace them.
    const Controls &controls() const { return m_controls; }

    // ---- Platform components ---------------------------------------------
    /// The serial-port control. It lives as long as the window object (it is
    /// closed whenever the window unloads), so an injected port survives reloads.
    CommControl &MSComm1() const { return *m_comm; }
    /// Replace the serial-port control (tests inject a scripted port here).
    void setCommControl(std::unique_ptr<CommControl> port);

    /// Sizing of the port test's probe wait (tests shorten it; the default is
    /// the real line time plus the standard margin).
    void setProbeTiming(const ProbeTiming &timing) { m_probeTiming = timing; }
    const ProbeTiming &probeTiming() const { return m_probeTiming; }

    /// Clear the given option buttons so that none of them is selected.
    /// (setChecked(false) alone is ignored on a checked auto-exclusive button.)
    static void clearOptions(std::initializer_list<QRadioButton *> options);

    /// Marks a long operation (port test, transfer) for its whole duration. The
    /// close box acts as Exit: with the port open it only raises the stop
    /// request. An unload asked for meanwhile with the port closed (Exit or the
    /// close box between two opens) raises the stop request and is carried out
    /// when the last scope ends: the port is closed if the operation left it
    /// open, and the window unloads.
    class OperationScope
    {
    public:
        explicit OperationScope(frmIstruzioni &window);
        ~OperationScope();
        OperationScope(const OperationScope &) = delete;
        OperationScope &operator=(const OperationScope &) = delete;

    private:
        frmIstruzioni &m_window;
    };
    bool operationRunning() const { return m_operations > 0; }
    bool closePending() const { return m_closePending; }

    /// The program is asked to end from outside (a signal): Exit, carried
    /// through to the end. A dialog open over the window is cancelled, a
    /// running operation stopped as by Exit; once it has ended (port closed,
    /// files let go) the window unloads, and then `then` runs, from the event
    /// loop. Not loaded: `then` runs at once (from the event loop too).
    void endProgram(std::function<void()> then);

    /// Esc acts exactly as a click on Exit.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    /// Return and Enter on a focused command button click it, as Space does;
    /// no button is the default, so Enter elsewhere clicks nothing.
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    explicit frmIstruzioni(QWidget *parent = nullptr);

    void buildControls();
    void buildTabOrder();
    void wireEvents();
    void unwireEvents();
    void optCom_Click(int port);
    void requestClose();
    void finishPendingClose();
    void runAfterEnd();

    QWidget *m_form = nullptr; // holds every control; destroyed at unload
    Controls m_controls;       // pointers into m_form, reset as a whole at unload
    std::unique_ptr<CommControl> m_comm;
    std::unique_ptr<DlgOpen> m_dlgOpen;
    QList<QMetaObject::Connection> m_connections;
    ProbeTiming m_probeTiming;
    int m_operations = 0;
    bool m_closePending = false;
    std::function<void()> m_afterEnd; // endProgram()'s last step, while it waits
};
