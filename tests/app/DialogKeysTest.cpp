#include "ProgramHarness.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "client/frmhost.h"
#include "contact/About.h"
#include "contact/SendForm.h"
#include "server/FingerServerSetup.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <map>

// Enter and Escape in the dialogs: Enter on a focused button presses it,
// Enter elsewhere presses OK where the window has one, Escape cancels.
class DialogKeysTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::Program> m_program;

    QWidget* open(const QString& which)
    {
        recordingPlatform().launchResult = 2;
        if (which == "setup")
            m_program->window().mnuServer->trigger();
        else if (which == "remover")
            m_program->window().mnuHost->trigger();
        else if (which == "feedback")
            m_program->tray->mnuYarbo->trigger();
        else
            m_program->tray->mnuAbout->trigger();
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->isVisible() && (qobject_cast<FingerServerSetup*>(top) || qobject_cast<frmhost*>(top)
                                     || qobject_cast<SendForm*>(top) || qobject_cast<About*>(top)))
                return top;
        }
        return nullptr;
    }

private slots:
    void init()
    {
        TestSupport::clearSettings();
        freshPlatform();
        m_program = TestSupport::startProgram();
    }
    void cleanup() { m_program.reset(); }

    void enterAndEscape_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("pressed"); // the button pressed, if any
        QTest::addColumn<bool>("closed");
        QTest::addColumn<QStringList>("boxes"); // message boxes shown
        const QStringList none;
        const QStringList discard{"Are you sure you want to disregard this message?"};
        QTest::newRow("setup: Enter in the name box is OK") << "setup" << "Text1" << int(Qt::Key_Return) << "cmdOk" << true << none;
        QTest::newRow("setup: keypad Enter in the URL box is OK") << "setup" << "Text3" << int(Qt::Key_Enter) << "cmdOk" << true << none;
        QTest::newRow("setup: Enter on Cancel") << "setup" << "cmdCancel" << int(Qt::Key_Return) << "cmdCancel" << true << none;
        QTest::newRow("setup: Escape") << "setup" << "Text2" << int(Qt::Key_Escape) << "" << true << none;
        QTest::newRow("remover: Enter in the list is OK") << "remover" << "List1" << int(Qt::Key_Return) << "Command2" << true << none;
        QTest::newRow("remover: Enter on Remove") << "remover" << "Command5" << int(Qt::Key_Return) << "Command5" << false
                                                 << QStringList{"Please select a Host address to remove."};
        QTest::newRow("remover: Enter on Cancel") << "remover" << "Command1" << int(Qt::Key_Enter) << "Command1" << true << none;
        QTest::newRow("remover: Escape") << "remover" << "List1" << int(Qt::Key_Escape) << "" << true << none;
        QTest::newRow("feedback: Enter on Cancel") << "feedback" << "CancelBtn" << int(Qt::Key_Return) << "CancelBtn" << false << discard;
        QTest::newRow("feedback: Enter on Send") << "feedback" << "SendBtn" << int(Qt::Key_Return) << "SendBtn" << false
                                                 << QStringList{"Please give your email address."};
        QTest::newRow("feedback: Enter in the sender box") << "feedback" << "txtfrom" << int(Qt::Key_Return) << "" << false << none;
        QTest::newRow("feedback: Escape asks first") << "feedback" << "msgtext" << int(Qt::Key_Escape) << "" << false << discard;
        QTest::newRow("about: Enter") << "about" << "cmdOK" << int(Qt::Key_Return) << "cmdOK" << true << none;
        QTest::newRow("about: Escape") << "about" << "cmdOK" << int(Qt::Key_Escape) << "" << true << none;
    }
    void enterAndEscape()
    {
        QFETCH(QString, window);
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(QString, pressed);
        QFETCH(bool, closed);
        QFETCH(QStringList, boxes);
        QPointer<QWidget> dialog = open(window);
        QVERIFY(dialog);
        if (auto* setup = qobject_cast<FingerServerSetup*>(dialog.data()))
            setup->Text1->setText("Bob");
        if (auto* form = qobject_cast<SendForm*>(dialog.data())) {
            QTest::keyClicks(form->msgtext, "half written");
            // The discard question is answered No: the form stays.
            recordingPlatform().answers = {Platform::Answer::No};
        }
        std::map<QString, std::unique_ptr<QSignalSpy>> clicks;
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            clicks[button->objectName()] = std::make_unique<QSignalSpy>(button, &QPushButton::clicked);
        auto* target = dialog->findChild<QWidget*>(focus);
        QVERIFY(target);
        target->setFocus();

        QTest::keyClick(target, Qt::Key(key));

        for (const auto& [name, spy] : clicks)
            QVERIFY2(spy->count() == (name == pressed ? 1 : 0), qPrintable(name));
        QCOMPARE(recordingPlatform().boxTexts(), boxes);
        if (closed)
            QTRY_VERIFY(!dialog || !dialog->isVisible());
        else
            QVERIFY(dialog && dialog->isVisible());
        if (window == "setup")
            QCOMPARE(m_program->window().profile().name, QString(pressed == "cmdOk" ? "Bob" : ""));
    }
};

static TestRegistration<DialogKeysTest> registration;
#include "DialogKeysTest.moc"
