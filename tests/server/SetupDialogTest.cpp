#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "ServerTestSupport.h"
#include "TestMain.h"
#include "app/Twips.h"
#include "server/FingerServerSetup.h"
#include "server/ServerReply.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace ServerTesting;

namespace {
int openSetupDialogs()
{
    int count = 0;
    for (QWidget* window : QApplication::topLevelWidgets())
        count += qobject_cast<FingerServerSetup*>(window) != nullptr;
    return count;
}
} // namespace

class SetupDialogTest : public ProgramTest
{
    Q_OBJECT

private slots:
    void init()
    {
        resetEnvironment();
    }

    void okBuildsTheReplyFromFilledBoxes_data()
    {
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("stored"); // e-mail, homepage, description

        QTest::newRow("all filled")
            << QStringList{"Ann", "a@example.org", "http://example.org/", "Hi\r\nthere"}
            << "Name: Ann\r\nEmail: a@example.org\r\nWWW: http://example.org/\r\n\r\nHi\r\nthere"
            << QStringList{"a@example.org", "http://example.org/", "Hi\r\nthere"};
        QTest::newRow("http:// alone") << QStringList{"Ann", "", "http://", ""} << "Name: Ann\r\n"
                                       << QStringList{"", "", ""};
        QTest::newRow("http:// in spaces") << QStringList{"Ann", "", "  http://  ", ""} << "Name: Ann\r\n"
                                           << QStringList{"", "", ""};
        QTest::newRow("homepage kept as typed")
            << QStringList{"Ann", "", " http://x.example ", ""} << "Name: Ann\r\nWWW:  http://x.example \r\n"
            << QStringList{"", " http://x.example ", ""};
        QTest::newRow("no e-mail: WWW follows the name")
            << QStringList{"Ann", "", "http://x.example", ""} << "Name: Ann\r\nWWW: http://x.example\r\n"
            << QStringList{"", "http://x.example", ""};
        QTest::newRow("e-mail of spaces counts") << QStringList{"Ann", "  ", "", ""} << "Name: Ann\r\nEmail:   \r\n"
                                                 << QStringList{"  ", "", ""};
        QTest::newRow("name of spaces") << QStringList{"  ", "", "", ""} << "Name:   \r\n" << QStringList{"", "", ""};
        QTest::newRow("description of spaces") << QStringList{"Ann", "", "", "   "} << "Name: Ann\r\n"
                                               << QStringList{"", "", ""};
        QTest::newRow("description of line breaks")
            << QStringList{"Ann", "", "", "\r\n"} << "Name: Ann\r\n\r\n\r\n" << QStringList{"", "", "\r\n"};
    }
    void okBuildsTheReplyFromFilledBoxes()
    {
        QFETCH(QStringList, boxes);
        QFETCH(QString, reply);
        QFETCH(QStringList, stored);
        const ServerReply::SetupOutcome outcome = ServerReply::setupReply(boxes[0], boxes[1], boxes[2], boxes[3]);
        QCOMPARE(outcome.reply, reply);
        QCOMPARE(outcome.profile.name, boxes[0]);
        QCOMPARE((QStringList{outcome.profile.email, outcome.profile.homepage, outcome.profile.description}), stored);
    }

    void dialogOpensWithTheStoredProfile()
    {
        storeProfile({"Ann Example", "ann@example.org", "", "Line one\r\nLine two"});
        recordingPlatform().screen = QSize(1600, 1000);
        auto program = TestSupport::startProgram();
        finger& w = program->window();
        w.mnuServer->trigger();
        FingerServerSetup* setup = w.service().setupDialog();
        QVERIFY(setup && setup->isVisible());
        QCOMPARE(setup->objectName(), QString("FingerServerSetup"));
        QCOMPARE(setup->windowTitle(), QString("Finger Server Setup"));
        QCOMPARE(setup->Text1->text(), QString("Ann Example"));
        QCOMPARE(setup->Text2->text(), QString("ann@example.org"));
        QCOMPARE(setup->Text3->text(), QString()); // "http://" replaced by the stored homepage
        QCOMPARE(setup->Text4->toPlainText(), QString("Line one\nLine two"));
        QCOMPARE(setup->descriptionText(), QString("Line one\r\nLine two"));

        // The twips size, made taller only as far as the note below the frame needs to show whole.
        QCOMPARE(setup->width(), Twips::toPixelsX(4425));
        QCOMPARE(setup->height(), std::max(Twips::toPixelsY(3015), setup->Label1->geometry().bottom() + 1 + 4));
        // Centred with its frame on the platform's screen (center() rounds down).
        QTRY_COMPARE(setup->frameGeometry().center(), QPoint(799, 499));
        QCOMPARE(setup->findChild<QGroupBox*>("Frame1")->title(), QString("Enter your Finger details"));
        QCOMPARE(setup->Text3->geometry(), Twips::toPixels(720, 840, 3375, 285));
        QCOMPARE(setup->Text3->parentWidget(), setup->Frame1);
        QCOMPARE(setup->cmdOk->geometry(), Twips::toPixels(2520, 2640, 855, 300));
        const QStringList labels{"Name:", "Email:", "URL:", "General Description:"};
        for (int n = 0; n < labels.size(); ++n)
            QCOMPARE(setup->findChild<QLabel*>(QStringLiteral("Label2_%1").arg(n))->text(), labels[n]);
        QCOMPARE(setup->findChild<QPushButton*>("cmdCancel")->text(), QString("&Cancel"));
    }

    void modalFromTheWindowModelessFromTheTrayOneAtATime()
    {
        auto program = TestSupport::startProgram();
        finger& w = program->window();
        w.mnuServer->trigger();
        FingerServerSetup* modal = w.service().setupDialog();
        QVERIFY(modal);
        QCOMPARE(modal->windowModality(), Qt::ApplicationModal);
        // A second request, from either place, brings the open dialog forward.
        program->tray->mnuServer->trigger();
        w.mnuServer->trigger();
        QCOMPARE(w.service().setupDialog(), modal);
        QCOMPARE(openSetupDialogs(), 1);
        modal->cmdCancel->click();
        QTRY_VERIFY(!w.service().setupDialog());

        program->tray->mnuServer->trigger();
        FingerServerSetup* modeless = w.service().setupDialog();
        QVERIFY(modeless && modeless->isVisible());
        QCOMPARE(modeless->windowModality(), Qt::NonModal);
        modeless->close();
        QTRY_COMPARE(openSetupDialogs(), 0);
    }

    void trayRequestWhileAnotherWindowIsModalGivesAUsableDialog_data()
    {
        QTest::addColumn<bool>("alreadyOpen");
        QTest::newRow("first opening") << false;
        QTest::newRow("open modeless before") << true;
    }
    void trayRequestWhileAnotherWindowIsModalGivesAUsableDialog()
    {
        QFETCH(bool, alreadyOpen);
        auto program = TestSupport::startProgram();
        finger& w = program->window();
        if (alreadyOpen)
            program->tray->mnuServer->trigger();
        w.mnuAbout->trigger();
        QWidget* about = QApplication::activeModalWidget();
        QVERIFY(about && !qobject_cast<FingerServerSetup*>(about));

        program->tray->mnuServer->trigger();
        FingerServerSetup* setup = w.service().setupDialog();
        QVERIFY(setup && setup->isVisible());
        // On top of the modal window, not blocked behind it.
        QCOMPARE(QApplication::activeModalWidget(), setup);
        QCOMPARE(openSetupDialogs(), 1);
        setup->cmdCancel->click();
        QTRY_VERIFY(!w.service().setupDialog());
        QCOMPARE(QApplication::activeModalWidget(), about);
        about->close();
    }

    void enteringABoxSelectsItsText()
    {
        storeProfile({"Ann Example", "ann@example.org", "http://example.org/", "About me"});
        auto program = TestSupport::startProgram();
        finger& w = program->window();
        w.service().showSetup(false);
        FingerServerSetup* setup = w.service().setupDialog();
        setup->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(setup));
        setup->Text1->setFocus();
        QTRY_VERIFY(setup->Text1->hasFocus());
        QCOMPARE(setup->Text1->selectedText(), QString("Ann Example"));
        for (QLineEdit* box : {setup->Text2, setup->Text3}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(box->hasFocus());
            QCOMPARE(box->selectionStart(), 0);
            QCOMPARE(box->selectedText(), box->text());
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(setup->Text4->hasFocus());
        QCOMPARE(setup->Text4->textCursor().selectedText(), QString("About me"));
        // Typing replaces the selected text.
        QTest::keyClick(setup->Text4, Qt::Key_Z);
        QCOMPARE(setup->Text4->toPlainText(), QString("z"));
    }

    void okWithoutANameRefuses()
    {
        storeProfile({"Ann", "ann@example.org", "", ""});
        auto program = TestSupport::startProgram();
        finger& w = program->window();
        const QString replyBefore = w.service().replyText();
        w.service().showSetup(false);
        FingerServerSetup* setup = w.service().setupDialog();
        setup->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(setup));
        setup->Text1->clear();
        setup->Text2->setText("changed@example.org");
        setup->cmdOk->setFocus();
        setup->cmdOk->click();

        RecordingPlatform& recorder = recordingPlatform();
        QCOMPARE(recorder.boxes.size(), 1);
        QCOMPARE(recorder.boxes[0].text, QString("Please enter your name!"));
        QCOMPARE(recorder.boxes[0].icon, Platform::Icon::Critical);
        QCOMPARE(recorder.boxes[0].caption, QString()); // the platform's default caption
        QCOMPARE(recorder.boxes[0].buttons, Platform::Buttons::Ok);
        QVERIFY(setup->isVisible());
        QVERIFY(setup->Text1->hasFocus());
        QCOMPARE(w.profile().email, QString("ann@example.org"));
        QCOMPARE(w.service().replyText(), replyBefore);
    }

    void okTakesTheBoxesAndEmptiedFieldsStayEmpty()
    {
        storeProfile({"Ann", "ann@example.org", "http://example.org/", "Old text"});
        auto program = TestSupport::startProgram();
        finger& w = program->window();
        program->tray->mnuServer->trigger();
        FingerServerSetup* setup = w.service().setupDialog();
        setup->Text1->setText("Bob");
        setup->Text2->clear();
        setup->Text3->setText(" http:// ");
        setup->Text4->setPlainText("New\nlines");
        setup->cmdOk->click();
        QTRY_VERIFY(!w.service().setupDialog());
        QCOMPARE(w.service().replyText(), QString("Name: Bob\r\n\r\nNew\r\nlines"));
        QCOMPARE(w.profile().name, QString("Bob"));
        QCOMPARE(w.profile().email, QString());
        QCOMPARE(w.profile().homepage, QString());
        QCOMPARE(w.profile().description, QString("New\r\nlines"));
        // The settings are written only at exit.
        QCOMPARE(Settings::read(kAppName, "Finger", "Email Address"), QString("ann@example.org"));
        QCOMPARE(fingerOnce(w), QByteArray("Name: Bob\r\n\r\nNew\r\nlines\r\n\r\nFinger Quobix Server v2.2\r\n"));

        program->tray->mnuMain->trigger();
        QTRY_COMPARE(program->quitCalls, 1);
        program.reset();
        // The emptied fields do not come back at the next start.
        auto next = TestSupport::startProgram();
        QCOMPARE(next->window().service().replyText(), QString("Name: Bob\r\nEmail: \r\nWWW: \r\n\r\nNew\r\nlines"));
    }

    void cancelChangesNothing()
    {
        storeProfile({"Ann", "ann@example.org", "", ""});
        auto program = TestSupport::startProgram();
        finger& w = program->window();
        const QString replyBefore = w.service().replyText();
        w.service().showSetup(true);
        FingerServerSetup* setup = w.service().setupDialog();
        setup->Text1->setText("Bob");
        setup->cmdCancel->click();
        QTRY_VERIFY(!w.service().setupDialog());
        QCOMPARE(w.profile().name, QString("Ann"));
        QCOMPARE(w.service().replyText(), replyBefore);

        // Escape is Cancel too.
        w.service().showSetup(true);
        setup = w.service().setupDialog();
        setup->Text1->setText("Bob");
        QTest::keyClick(setup, Qt::Key_Escape);
        QTRY_VERIFY(!w.service().setupDialog());
        QCOMPARE(w.profile().name, QString("Ann"));
    }

    void minimisingHidesAndKeepsTheEdits()
    {
        auto program = TestSupport::startProgram();
        finger& w = program->window();
        w.service().showSetup(false);
        FingerServerSetup* setup = w.service().setupDialog();
        setup->Text1->setText("Half typed");
        setup->setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(!setup->isVisible());
        QCOMPARE(w.service().setupDialog(), setup);
        QVERIFY(!(setup->windowState() & Qt::WindowMinimized));

        w.mnuServer->trigger();
        QTRY_VERIFY(setup->isVisible());
        QCOMPARE(w.service().setupDialog(), setup);
        QCOMPARE(setup->Text1->text(), QString("Half typed"));
        QCOMPARE(openSetupDialogs(), 1);
    }
};

static TestRegistration<SetupDialogTest> registration;
#include "SetupDialogTest.moc"
