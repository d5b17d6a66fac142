// The window's platform-component layers: the file dialog dlgOpen (answered by
// a hook, and once through a real QFileDialog) and the single-precision progress bar.

#include "WizardTests.h"

#include "DlgOpen.h"
#include "ProgressBar.h"
#include "RunTimeError.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

struct Asked
{
    bool save = false;
    QString title, filter, fileName;
    int count = 0;
};

// Answers every dialog with `answer` and records what it was asked.
void answerWith(Asked &asked, std::optional<QString> answer)
{
    DlgOpen::setAnswerer([&asked, answer](bool save, const QString &title, const QString &filter,
                                          const QString &fileName) {
        asked.save = save;
        asked.title = title;
        asked.filter = filter;
        asked.fileName = fileName;
        ++asked.count;
        return answer;
    });
}

// Closes the file dialog on show as its close box does, trying again until it
// is up. Windows shows the native dialog, whose window closing from code
// through Qt would report an acceptance under Wine: post WM_CLOSE to it.
void closeDialogTitled(const QString &title, int triesLeft = 500)
{
#ifdef Q_OS_WIN
    const HWND native = ::FindWindowW(nullptr, reinterpret_cast<LPCWSTR>(title.utf16()));
    if (native && ::IsWindowVisible(native)) {
        ::PostMessageW(native, WM_CLOSE, 0, 0);
        return;
    }
#else
    Q_UNUSED(title);
    if (QWidget *shown = QApplication::activeModalWidget()) {
        shown->close();
        return;
    }
#endif
    if (triesLeft > 0)
        QTimer::singleShot(10, [title, triesLeft] { closeDialogTitled(title, triesLeft - 1); });
}

} // namespace

class TestComponents : public QObject
{
    Q_OBJECT
    QTemporaryDir temp;

private slots:
    void init() { Testfile::LoadEnglish(); }

    void cleanup()
    {
        DlgOpen::setAnswerer({});
        qunsetenv("K410_DIALOG_DIR");
    }

    void nameFilters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("save dialog") << "File bak (*.bak)|*.bak|File bio (*.bio)|*.bio"
                                     << QStringList{"File bak (*.bak)", "File bio (*.bio)"};
        QTest::newRow("open dialog") << "File bio (*.bio)|*.bio|File bak (*.bak)|*.bak"
                                     << QStringList{"File bio (*.bio)", "File bak (*.bak)"};
        QTest::newRow("name without pattern") << "Backups|*.bak" << QStringList{"Backups (*.bak)"};
        QTest::newRow("name shows another pattern") << "Images (*.jpg)|*.png"
                                                    << QStringList{"Images (*.jpg) (*.png)"};
        QTest::newRow("several patterns") << "Images|*.bak;*.bio" << QStringList{"Images (*.bak *.bio)"};
        QTest::newRow("no filter") << "" << QStringList{};
        QTest::newRow("name without its pattern") << "All" << QStringList{"All (*)"};
    }

    void nameFilters()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, expected);
        QCOMPARE(DlgOpen::nameFilters(filter), expected);
    }

    // The save dialog gets title, filters (first selected) and the proposed name in
    // its own directory; the chosen path comes back in FileName.
    void saveThroughAnswerer()
    {
        Asked asked;
        const QString chosen = temp.filePath(QStringLiteral("unit 7.bak"));
        answerWith(asked, chosen);
        DlgOpen dialog;
        dialog.DialogTitle = QStringLiteral("SELECT THE DIRECTORY AND THE NAME OF BACKUP FILE");
        dialog.Filter = QStringLiteral("File bak (*.bak)|*.bak|File bio (*.bio)|*.bio");
        dialog.FileName = temp.filePath(QStringLiteral("old.bak"));
        dialog.ShowSave();
        QCOMPARE(asked.count, 1);
        QVERIFY(asked.save);
        QCOMPARE(asked.title, dialog.DialogTitle);
        QCOMPARE(asked.filter, QStringLiteral("File bak (*.bak);;File bio (*.bio)"));
        QCOMPARE(asked.fileName, temp.filePath(QStringLiteral("old.bak")));
        QCOMPARE(dialog.FileName, QDir::toNativeSeparators(chosen));

        dialog.FileName.clear();
        dialog.ShowOpen();
        QVERIFY(!asked.save);
        QCOMPARE(asked.count, 2);
    }

    void startDirectory_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("useEnvironment");
        QTest::addColumn<QString>("expected"); // relative to the temporary directory; "." = current dir
        QTest::newRow("own directory wins") << "sub/old.bak" << true << "sub/old.bak";
        QTest::newRow("environment for a bare name") << "old.bak" << true << "env/old.bak";
        QTest::newRow("environment for no name") << "" << true << "env";
        QTest::newRow("current directory") << "old.bak" << false << "./old.bak";
    }

    void startDirectory()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, useEnvironment);
        QFETCH(QString, expected);
        QDir(temp.path()).mkpath(QStringLiteral("env"));
        QDir(temp.path()).mkpath(QStringLiteral("sub"));
        if (useEnvironment)
            qputenv("K410_DIALOG_DIR", temp.filePath(QStringLiteral("env")).toLocal8Bit());
        Asked asked;
        answerWith(asked, QStringLiteral("x.bak"));
        DlgOpen dialog;
        dialog.FileName = fileName.contains(QLatin1Char('/')) ? temp.filePath(fileName) : fileName;
        dialog.ShowOpen();
        const QString want = expected.startsWith(QStringLiteral("./"))
                                 ? QDir::current().filePath(expected.mid(2))
                                 : temp.filePath(expected);
        QCOMPARE(asked.fileName, want);
    }

    // Cancel is a run-time error; FileName keeps the name it had.
    void cancel()
    {
        Asked asked;
        answerWith(asked, std::nullopt);
        DlgOpen dialog;
        dialog.FileName = QStringLiteral("kept.bak");
        try {
            dialog.ShowSave();
            QFAIL("cancel did not raise an error");
        } catch (const RunTimeError &error) {
            QCOMPARE(error.number(), 32755);
            QCOMPARE(error.description(), QStringLiteral("Cancel was selected"));
        }
        QCOMPARE(dialog.FileName, QStringLiteral("kept.bak"));
    }

    // Up to 260 characters come back; a longer path is an error, not a cut name.
    void maximumLength()
    {
        Asked asked;
        const QString base = QStringLiteral("/") + QString(255, QLatin1Char('d')) + QStringLiteral(".bak");
        QCOMPARE(base.size(), 260);
        answerWith(asked, base);
        DlgOpen dialog;
        dialog.ShowOpen();
        QCOMPARE(dialog.FileName, QDir::toNativeSeparators(base));

        answerWith(asked, QStringLiteral("/d") + base);
        dialog.FileName = QStringLiteral("kept.bio");
        QVERIFY_THROWS_EXCEPTION(RunTimeError, dialog.ShowOpen());
        QCOMPARE(dialog.FileName, QStringLiteral("kept.bio"));
    }

    // Without an answerer the real dialog shows, set up as asked.
    void realDialog()
    {
        DlgOpen dialog;
        dialog.DialogTitle = QStringLiteral("SELECT THE BIOS RELEASE TO INSTALL.");
        dialog.Filter = QStringLiteral("File bio (*.bio)|*.bio|File bak (*.bak)|*.bak");
        dialog.FileName = temp.filePath(QStringLiteral("new.bak"));
        QString title, selectedFilter, directory;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        bool answered = false;
        std::function<void()> answer = [&] {
            auto *shown = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!shown) {
                QTimer::singleShot(10, answer);
                return;
            }
            title = shown->windowTitle();
            selectedFilter = shown->selectedNameFilter();
            directory = shown->directory().absolutePath();
            mode = shown->acceptMode();
            shown->selectFile(temp.filePath(QStringLiteral("new.bak")));
            QMetaObject::invokeMethod(shown, "accept");
            answered = true;
        };
        QTimer::singleShot(0, answer);
        dialog.ShowSave();
        QVERIFY(answered);
        QCOMPARE(title, dialog.DialogTitle);
        QCOMPARE(selectedFilter, QStringLiteral("File bio (*.bio)"));
        QCOMPARE(directory, QDir(temp.path()).absolutePath());
        QCOMPARE(mode, QFileDialog::AcceptSave);
        QCOMPARE(dialog.FileName, QDir::toNativeSeparators(temp.filePath(QStringLiteral("new.bak"))));

        // Closing the real dialog is a cancel.
        QTimer::singleShot(0, [title = dialog.DialogTitle] { closeDialogTitled(title); });
        QVERIFY_THROWS_EXCEPTION(RunTimeError, dialog.ShowOpen());
    }

    void replaceQuestion_data()
    {
        QTest::addColumn<Loader>("loader");    // the language chosen on the start window
        QTest::addColumn<QString>("kind");     // what is at the chosen name
        QTest::addColumn<QString>("question"); // asked before replacing it ("%1": where a link leads); empty: none
        QTest::addColumn<QString>("answers");  // the captions of Yes and No
        QTest::addColumn<bool>("replace");     // the answer
        const Loader english = &Testfile::LoadEnglish;
        QTest::newRow("nothing there: no question") << english << "nothing" << "" << "" << true;
        QTest::newRow("a file: replaced")
            << english << "file" << "new.bak already exists.\nDo you want to replace it?" << "Yes|No" << true;
        QTest::newRow("a file, in German: replaced")
            << Loader(&Testfile::LoadGerman) << "file"
            << "new.bak ist bereits vorhanden.\nMöchten Sie die Datei ersetzen?" << "Ja|Nein" << true;
#ifndef Q_OS_WIN
        QTest::newRow("a link: says where it leads; not replaced, chosen again")
            << english << "link" << "new.bak is a link to %1.\nSaving there replaces %1. Do you want to replace it?"
            << "Yes|No" << false;
        QTest::newRow("a link to nothing, in Italian: not replaced")
            << Loader(&Testfile::LoadItalian) << "dangling"
            << "new.bak è un collegamento a %1, che non esiste.\nSalvando lì si crea %1. Vuoi salvare lì?" << "Sì|No"
            << false;
        QTest::newRow("a link, in French: replaced")
            << Loader(&Testfile::LoadFrench) << "link"
            << "new.bak est un lien vers %1.\nEnregistrer ici remplace %1. Voulez-vous le remplacer ?" << "Oui|Non"
            << true;
#endif
    }

    // The real save dialog asks before a name is replaced, in the language
    // chosen, answers included, and for a link says where it leads; "No" shows
    // the dialog again (closed here: a cancel).
    void replaceQuestion()
    {
        QFETCH(Loader, loader);
        QFETCH(QString, kind);
        QFETCH(QString, question);
        QFETCH(QString, answers);
        QFETCH(bool, replace);
        loader();
        QTemporaryDir here;
        const QString name = here.filePath(QStringLiteral("new.bak"));
        const QString elsewhere = here.filePath(kind == "dangling" ? "missing.bak" : "secret.bak");
        QVERIFY(kind == "dangling" || QFile(elsewhere).open(QIODevice::WriteOnly));
        QVERIFY(kind != "file" || QFile(name).open(QIODevice::WriteOnly));
        QVERIFY((kind != "link" && kind != "dangling") || QFile::link(elsewhere, name));
        DlgOpen dialog;
        dialog.DialogTitle = QStringLiteral("SAVE");
        dialog.FileName = name;
        QString asked, captions;
        int shown = 0;
        QTimer answer; // answers whatever is up, until this goes out of scope
        connect(&answer, &QTimer::timeout, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                asked = box->text();
                captions = box->button(QMessageBox::Yes)->text() + '|' + box->button(QMessageBox::No)->text();
                box->button(replace ? QMessageBox::Yes : QMessageBox::No)->click();
            } else if (auto *files = qobject_cast<QFileDialog *>(modal); files && files->isVisible() && ++shown) {
                files->selectFile(name);
                QMetaObject::invokeMethod(files, shown == 1 ? "accept" : "reject");
            }
        });
        answer.start(10);
        try {
            dialog.ShowSave();
            QVERIFY(replace);
            QCOMPARE(dialog.FileName, QDir::toNativeSeparators(name));
        } catch (const RunTimeError &) {
            QVERIFY(!replace);
        }
        QCOMPARE(asked, question.contains(QLatin1String("%1")) ? question.arg(QDir::toNativeSeparators(elsewhere)) : question);
        QCOMPARE(captions, answers);
        QCOMPARE(shown, replace ? 1 : 2);
    }

    // The bar keeps the single-precision value it was given, not its display steps.
    void progressStoresFloat()
    {
        ProgressBar bar;
        QVERIFY(!bar.isTextVisible());
        bar.setValue(0.019837333f);
        QCOMPARE(bar.Value(), 0.019837333f);
        QCOMPARE(bar.value(), 0); // quarter percents, rounded
        // Accumulation in the bar, step in double, stored as single: under 1 for
        // 50 steps, just above 1 at the 51st.
        bar.setValue(0.0f);
        for (int step = 1; step <= 51; ++step) {
            bar.setValue(float(double(bar.Value()) + 0.019837333));
            if (step == 50)
                QVERIFY(bar.Value() < 1.0f);
        }
        QVERIFY(bar.Value() > 1.0f);
        QCOMPARE(int(bar.Value()), 1);
    }

    void progressLimits_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<float>("held");
        QTest::addColumn<int>("shown");
        QTest::newRow("past the end") << 100.01f << 100.0f << 400;
        QTest::newRow("far past the end") << 1e9f << 100.0f << 400;
        QTest::newRow("below zero") << -0.5f << 0.0f << 0;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0.0f << 0;
        QTest::newRow("full") << 100.0f << 100.0f << 400;
    }

    // Values beyond the range are held at its ends instead of failing.
    void progressLimits()
    {
        QFETCH(float, value);
        QFETCH(float, held);
        QFETCH(int, shown);
        ProgressBar bar;
        bar.setValue(value);
        QCOMPARE(bar.Value(), held);
        QCOMPARE(bar.value(), shown);
    }

    // A long download keeps stepping past the end: the bar stays at 100.
    void progressHoldsAtTheEnd()
    {
        ProgressBar bar;
        int steps = 0;
        while (steps < 6000) {
            bar.setValue(float(double(bar.Value()) + 0.019837333));
            ++steps;
        }
        QCOMPARE(bar.Value(), 100.0f);
        QCOMPARE(bar.value(), bar.maximum());
    }
};

int runComponentTests(int argc, char **argv)
{
    TestComponents test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_components.moc"
