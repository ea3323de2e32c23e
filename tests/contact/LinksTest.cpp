#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/QtPlatform.h"
#include "contact/About.h"
#include "contact/SendForm.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

namespace {
template<class T>
QList<T*> shownWindows()
{
    QList<T*> found;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<T*>(widget); window && window->isVisible())
            found.append(window);
    return found;
}
} // namespace

// The About box and the web and mail links from the tray, the Help menu and
// the About box, with a launcher that fails and one that succeeds.
class LinksTest : public ProgramTest
{
    Q_OBJECT

    About* openAboutFromTray()
    {
        tray().mnuAbout->trigger();
        const QList<About*> boxes = shownWindows<About>();
        return boxes.size() == 1 ? boxes.first() : nullptr;
    }

private slots:
    void init()
    {
        resetEnvironment();
        launch();
    }
    void cleanup() { stopProgram(); }

    void linkEntries_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("launchResult");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("browserMessage");
        // The feedback form afterwards: -1 none, 0 modeless, 1 modal.
        QTest::addColumn<int>("form");
        const QString web = QStringLiteral("https://www.example.org/yarbo/");
        const QString mail = QStringLiteral("mailto:yarbo@example.org");
        for (int result : {2, 32}) {
            const bool failed = result < 32;
            const QByteArray suffix = failed ? " fails" : " opens";
            QTest::newRow("tray web" + suffix) << "tray web" << result << web << failed << -1;
            QTest::newRow("menu web" + suffix) << "menu web" << result << web << failed << -1;
            QTest::newRow("about web" + suffix) << "about web" << result << web << failed << -1;
            QTest::newRow("tray mail" + suffix) << "tray mail" << result << mail << false << (failed ? 0 : -1);
            QTest::newRow("menu mail" + suffix) << "menu mail" << result << mail << false << (failed ? 1 : -1);
            QTest::newRow("about mail" + suffix) << "about mail" << result << mail << false << (failed ? 0 : -1);
        }
        // The links are reached with Tab and opened with Enter or Space too.
        QTest::newRow("about mail by keys") << "about mail keys" << 32 << mail << false << -1;
        QTest::newRow("about web by keys") << "about web keys" << 32 << web << false << -1;
    }
    void linkEntries()
    {
        QFETCH(QString, entry);
        QFETCH(int, launchResult);
        QFETCH(QString, target);
        QFETCH(bool, browserMessage);
        QFETCH(int, form);
        RecordingPlatform& p = recordingPlatform();
        p.launchResult = launchResult;

        if (entry == "tray web")
            tray().mnuvisit->trigger();
        else if (entry == "menu web")
            window().mnuAboutYarbo->trigger();
        else if (entry == "tray mail")
            tray().mnuYarbo->trigger();
        else if (entry == "menu mail")
            window().mnuEmail->trigger();
        else {
            About* about = openAboutFromTray();
            QVERIFY(about);
            if (entry.endsWith("keys")) {
                about->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(about));
                QTest::keyClick(about->cmdOK, Qt::Key_Tab);
                if (entry == "about web keys")
                    QTest::keyClick(about->Label5_0, Qt::Key_Tab);
                QVERIFY(about->focusWidget() == (entry == "about web keys" ? about->Label4 : about->Label5_0));
                QTest::keyClick(about->focusWidget(), entry == "about web keys" ? Qt::Key_Space : Qt::Key_Return);
            } else {
                QTest::mouseClick(entry == "about web" ? about->Label4 : about->Label5_0, Qt::LeftButton);
            }
        }

        QCOMPARE(p.launched, QStringList{target});
        if (browserMessage) {
            QCOMPARE(p.boxTexts(), QStringList{"Unable to launch the default Web Browser"});
            QCOMPARE(p.boxes.first().icon, Platform::Icon::Exclamation);
            QCOMPARE(p.boxes.first().caption, QString("Finger Quobix 2.2"));
        } else {
            QCOMPARE(p.boxes.size(), 0);
        }
        const QList<SendForm*> forms = shownWindows<SendForm>();
        QCOMPARE(forms.size(), form < 0 ? 0 : 1);
        if (form >= 0)
            QCOMPARE(forms.first()->windowModality(), form ? Qt::ApplicationModal : Qt::NonModal);
    }

    // The desktop's launcher (a stand-in xdg-open on PATH) decides by its exit
    // status whether a link opened; the window keeps running while it decides.
    void launcherExitStatusDecides_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: no launcher installed
        QTest::addColumn<bool>("opened");
        QTest::newRow("exit 0") << QByteArray("exit 0") << true;
        QTest::newRow("exit 1: bad use") << QByteArray("exit 1") << false;
        QTest::newRow("exit 3: no handler tool") << QByteArray("exit 3") << false;
        QTest::newRow("exit 4: action failed") << QByteArray("exit 4") << false;
        QTest::newRow("no launcher") << QByteArray() << false;
        QTest::newRow("still running after the wait") << QByteArray("echo $$ >> \"$0.pids\"; exec /bin/sleep 60") << true;
    }
    void launcherExitStatusDecides()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, opened);
        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        const QString launcherPath = bin.filePath(QStringLiteral("xdg-open"));
        if (!script.isEmpty()) {
            QFile file(launcherPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\necho \"$1\" >> \"$0.log\"\n" + script + "\n");
            file.close();
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        QtPlatform real(1500);
        recordingPlatform().launcher = [&real](const QString& target) {
            return real.LaunchDocument(target, {}, 1, {}, {}, 0);
        };
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(50);

        tray().mnuvisit->trigger();
        tray().mnuYarbo->trigger();

        qputenv("PATH", path);
        QFile pids(launcherPath + QStringLiteral(".pids"));
        if (pids.open(QIODevice::ReadOnly))
            for (const QByteArray& pid : pids.readAll().split('\n'))
                if (pid.toInt() > 0)
                    ::kill(pid.toInt(), SIGTERM);
        QCOMPARE(recordingPlatform().boxTexts(),
                 opened ? QStringList{} : QStringList{"Unable to launch the default Web Browser"});
        QCOMPARE(shownWindows<SendForm>().size(), opened ? 0 : 1);
        if (!script.isEmpty()) {
            QFile log(launcherPath + QStringLiteral(".log"));
            QVERIFY(log.open(QIODevice::ReadOnly));
            QCOMPARE(log.readAll(), QByteArray("https://www.example.org/yarbo/\nmailto:yarbo@example.org\n"));
        }
        // The wait let timers run: the window went on painting.
        if (script.contains("sleep"))
            QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
    }

    void aboutBoxShowsNameVersionAndLinks()
    {
        About* about = openAboutFromTray();
        QVERIFY(about);
        QCOMPARE(about->windowModality(), Qt::NonModal);
        QCOMPARE(about->findChild<QLabel*>("Label5_0")->text(), QString("Email: yarbo@example.org"));
        QCOMPARE(about->findChild<QLabel*>("Label4")->text(), QString("Web: www.example.org"));
        for (QLabel* link : {about->Label5_0, about->Label4}) {
            QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
            QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        }
        QVERIFY(!about->lblPointer->isVisible());
        QVERIFY(about->Label5_1->cursor().shape() != Qt::PointingHandCursor);

        // The version label belongs to the mail label's group but is no link.
        recordingPlatform().launchResult = 2;
        QTest::mouseClick(about->Label5_1, Qt::LeftButton);
        QVERIFY(recordingPlatform().launched.isEmpty());
        QVERIFY(shownWindows<SendForm>().isEmpty());

        QPointer<About> watch(about);
        QTest::mouseClick(about->cmdOK, Qt::LeftButton);
        QTRY_VERIFY(!watch);
        // Escape closes it the same way, and the next request opens it afresh.
        about = openAboutFromTray();
        QVERIFY(about && about != nullptr);
        watch = about;
        QTest::keyClick(about, Qt::Key_Escape);
        QTRY_VERIFY(!watch);
        QVERIFY(openAboutFromTray());
    }

    void secondRequestBringsTheOpenWindowForward()
    {
        About* about = openAboutFromTray();
        QVERIFY(about);
        tray().mnuAbout->trigger();
        QCOMPARE(shownWindows<About>(), QList<About*>{about});
        about->close();
        QTRY_VERIFY(shownWindows<About>().isEmpty());

        recordingPlatform().launchResult = 2;
        tray().mnuYarbo->trigger();
        const QList<SendForm*> forms = shownWindows<SendForm>();
        QCOMPARE(forms.size(), 1);
        QTest::keyClicks(forms.first()->msgtext, "half written");
        tray().mnuYarbo->trigger();
        window().mnuEmail->trigger();
        QCOMPARE(shownWindows<SendForm>(), forms);
        QCOMPARE(forms.first()->msgtext->toPlainText(), QString("half written"));
    }

    void openModelessWindowBroughtForwardOverAModalOneTurnsModal_data()
    {
        QTest::addColumn<bool>("sendForm");
        QTest::newRow("feedback form") << true;
        QTest::newRow("About box") << false;
    }
    void openModelessWindowBroughtForwardOverAModalOneTurnsModal()
    {
        QFETCH(bool, sendForm);
        recordingPlatform().launchResult = 2;
        QWidget* open = nullptr;
        if (sendForm) {
            tray().mnuYarbo->trigger();
            QCOMPARE(shownWindows<SendForm>().size(), 1);
            SendForm* form = shownWindows<SendForm>().first();
            QTest::keyClicks(form->msgtext, "half written");
            open = form;
        } else {
            open = openAboutFromTray();
        }
        QVERIFY(open);
        QCOMPARE(open->windowModality(), Qt::NonModal);

        // The setup dialog from the main window is modal; the open window,
        // asked for again from the tray, must not stay blocked behind it.
        window().mnuServer->trigger();
        QVERIFY(QApplication::activeModalWidget());
        QVERIFY(QApplication::activeModalWidget() != open);
        if (sendForm)
            tray().mnuYarbo->trigger();
        else
            tray().mnuAbout->trigger();
        QCOMPARE(open->windowModality(), Qt::ApplicationModal);
        QVERIFY(open->isVisible());
        if (sendForm) {
            QCOMPARE(shownWindows<SendForm>().size(), 1);
            QCOMPARE(static_cast<SendForm*>(open)->msgtext->toPlainText(), QString("half written"));
        } else {
            QCOMPARE(shownWindows<About>().size(), 1);
        }
    }

    void modelessRequestOverAModalWindowOpensModal()
    {
        // From the Help menu the About box is modal; a modeless form could not take input under it.
        window().mnuAbout->trigger();
        QCOMPARE(shownWindows<About>().size(), 1);
        QCOMPARE(shownWindows<About>().first()->windowModality(), Qt::ApplicationModal);
        recordingPlatform().launchResult = 2;
        QTest::mouseClick(shownWindows<About>().first()->Label5_0, Qt::LeftButton);
        const QList<SendForm*> forms = shownWindows<SendForm>();
        QCOMPARE(forms.size(), 1);
        QCOMPARE(forms.first()->windowModality(), Qt::ApplicationModal);
    }
};

static TestRegistration<LinksTest> registration;

#include "LinksTest.moc"
