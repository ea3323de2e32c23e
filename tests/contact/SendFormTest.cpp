#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/Settings.h"
#include "contact/SendForm.h"
#include "net/SmtpClient.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {
// A loopback port where nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
} // namespace

// The feedback window without a mail server: layout, the input checks, the
// Edit menu, closing, and failed connections.
class SendFormTest : public QObject
{
    Q_OBJECT

    RuntimeConfig m_config;
    QPointer<SendForm> m_form;

    SendForm& form() { return *m_form; }

private slots:
    void init()
    {
        freshPlatform();
        m_config = RuntimeConfig();
        m_config.smtpHost = QStringLiteral("127.0.0.1");
        m_config.smtpPort = closedPort();
        m_config.smtpTimeLimitSeconds = 1;
        m_form = new SendForm(m_config);
        m_form->setAttribute(Qt::WA_DeleteOnClose);
        m_form->show();
    }
    void cleanup()
    {
        delete m_form.data();
        QGuiApplication::clipboard()->clear();
    }

    void opensReadyForTheSendersAddress()
    {
        SendForm& f = form();
        QCOMPARE(f.windowTitle(), QString("Let's send an email to Yarbo"));
        QCOMPARE(f.Text1->text(), kAuthorMailbox);
        QCOMPARE(f.txtSubject->text(), QString("I'm using Finger Quobix!"));
        QCOMPARE(f.focusWidget(), f.txtfrom);
        QWidget* next = f.txtfrom->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, static_cast<QWidget*>(f.msgtext));
        // Centred on the platform's screen.
        const QPoint centre = f.frameGeometry().center();
        QVERIFY(qAbs(centre.x() - 512) <= 1 && qAbs(centre.y() - 384) <= 1);
    }

    void inputChecks_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("focus");
        const QString invalid = QStringLiteral("Please enter a valid email address!");
        QTest::newRow("nothing at all") << "" << "" << "Please give your email address." << "txtfrom";
        QTest::newRow("blanks only") << "   " << "hi" << invalid << "txtfrom";
        QTest::newRow("no dot") << "user@host" << "hi" << invalid << "txtfrom";
        QTest::newRow("no at, before the message check") << "user.host" << "" << invalid << "txtfrom";
        QTest::newRow("no message") << "a@b.c" << "" << "Please enter a message to send to Yarbo." << "msgtext";
        QTest::newRow("CR LF smuggles a command") << "a@b.c\r\nRCPT TO:<x@y.z>" << "hi" << invalid << "txtfrom";
        QTest::newRow("LF smuggles a header") << "a@b.c\nBcc: x@y.z" << "hi" << invalid << "txtfrom";
        // Both characters anywhere pass; the send then finds no server.
        QTest::newRow("just the two characters") << "@." << "hi" << SendForm::kNoConnection << "";
    }
    void inputChecks()
    {
        QFETCH(QString, from);
        QFETCH(QString, message);
        QFETCH(QString, box);
        QFETCH(QString, focus);
        SendForm& f = form();
        f.txtfrom->setText(from);
        f.msgtext->setPlainText(message);
        f.CancelBtn->setFocus();
        QTest::mouseClick(f.SendBtn, Qt::LeftButton);

        RecordingPlatform& p = recordingPlatform();
        QCOMPARE(p.boxTexts(), QStringList{box});
        QCOMPARE(p.boxes.first().icon, Platform::Icon::Exclamation);
        QCOMPARE(p.boxes.first().caption, QString("Finger Quobix 2.2"));
        QCOMPARE(p.boxes.first().buttons, Platform::Buttons::Ok);
        if (!focus.isEmpty())
            QCOMPARE(f.focusWidget()->objectName(), focus);
        // The window stays with everything as typed.
        QVERIFY(m_form && f.isVisible());
        QCOMPARE(f.txtfrom->text(), from);
        QCOMPARE(f.msgtext->toPlainText(), message);
        QVERIFY(f.SendBtn->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    void connectionFailureKeepsTheMessage_data()
    {
        QTest::addColumn<bool>("serverListens");
        QTest::newRow("nothing listening") << false;
        QTest::newRow("server never greets") << true;
    }
    void connectionFailureKeepsTheMessage()
    {
        QFETCH(bool, serverListens);
        QTcpServer silent;
        if (serverListens) {
            QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
            m_form->close();
            m_config.smtpPort = silent.serverPort();
            m_form = new SendForm(m_config);
            m_form->show();
        }
        SendForm& f = form();
        QTest::keyClicks(f.txtfrom, "me@example.net");
        f.msgtext->setPlainText("Thanks\nfor the program");
        bool hourglassDuringSend = false;
        recordingPlatform().whileBoxUp = [&](const RecordingPlatform::Box&) {
            hourglassDuringSend = QApplication::overrideCursor() != nullptr || !f.SendBtn->isEnabled();
        };
        QElapsedTimer clock;
        clock.start();
        f.SendOption->trigger();
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(recordingPlatform().boxTexts(), QStringList{"Unable to establish connection to SMTP server."});
        QVERIFY(!hourglassDuringSend);
        QVERIFY(m_form && f.isVisible());
        QCOMPARE(f.msgtext->toPlainText(), QString("Thanks\nfor the program"));
        QCOMPARE(f.txtfrom->text(), QString("me@example.net"));
        QVERIFY(f.SendBtn->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    // Looking the server's name up lets events run: the window must neither
    // close under the conversation nor start a second one.
    void sendUnderWayKeepsTheWindowAndRefusesASecond()
    {
        m_form->close();
        m_config.smtpHost = QStringLiteral("mail.example.invalid");
        m_form = new SendForm(m_config);
        m_form->setAttribute(Qt::WA_DeleteOnClose);
        m_form->show();
        SendForm& f = form();
        int lookups = 0;
        bool closed = true;
        f.SmtpClient1->setHostLookup([&](const QString&, QObject* context, std::function<void(const QHostInfo&)> done) {
            ++lookups;
            QTimer::singleShot(0, context, [&f, &closed, done] {
                closed = f.close();
                f.SendOption->trigger();
                QHostInfo info;
                info.setAddresses({QHostAddress(QHostAddress::LocalHost)});
                done(info);
            });
            return lookups;
        });
        f.txtfrom->setText("me@example.net");
        f.msgtext->setPlainText("Still here?");

        QTest::mouseClick(f.SendBtn, Qt::LeftButton);

        QCOMPARE(lookups, 1);
        QVERIFY(!closed);
        QCOMPARE(recordingPlatform().boxTexts(), QStringList{SendForm::kNoConnection});
        QVERIFY(m_form && f.isVisible());
        QCOMPARE(f.msgtext->toPlainText(), QString("Still here?"));
        QVERIFY(f.SendBtn->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
        // Once the send is over the window closes as before.
        recordingPlatform().answers = {Platform::Answer::Yes};
        QVERIFY(f.close());
    }

    void editMenuAvailability_data()
    {
        QTest::addColumn<bool>("senderSelected");
        QTest::addColumn<int>("messageSelection");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<bool>("cutCopy");
        QTest::addColumn<bool>("paste");
        QTest::newRow("selection only in the sender box") << true << 0 << "" << false << false;
        QTest::newRow("message selection") << false << 3 << "x" << true << true;
        QTest::newRow("clipboard text, no selection") << true << 0 << "x" << false << true;
    }
    void editMenuAvailability()
    {
        QFETCH(bool, senderSelected);
        QFETCH(int, messageSelection);
        QFETCH(QString, clipboard);
        QFETCH(bool, cutCopy);
        QFETCH(bool, paste);
        SendForm& f = form();
        f.txtfrom->setText("me@example.net");
        f.msgtext->setPlainText("hello");
        QTextCursor cursor = f.msgtext->textCursor();
        cursor.setPosition(0);
        cursor.setPosition(messageSelection, QTextCursor::KeepAnchor);
        f.msgtext->setTextCursor(cursor);
        if (senderSelected) {
            f.txtfrom->setFocus();
            f.txtfrom->selectAll();
        }
        if (clipboard.isEmpty())
            QGuiApplication::clipboard()->clear();
        else
            QGuiApplication::clipboard()->setText(clipboard);

        emit f.EditMenu->aboutToShow();
        QCOMPARE(f.focusWidget(), f.msgtext);
        QCOMPARE(f.CutOption->isEnabled(), cutCopy);
        QCOMPARE(f.CopyOption->isEnabled(), cutCopy);
        QCOMPARE(f.PasteOption->isEnabled(), paste);
    }

    void clipboardCommandsActOnTheFocusedBox()
    {
        SendForm& f = form();
        QClipboard* clipboard = QGuiApplication::clipboard();
        f.msgtext->setPlainText("hello world");
        QTextCursor cursor = f.msgtext->textCursor();
        cursor.setPosition(6);
        cursor.setPosition(11, QTextCursor::KeepAnchor);
        f.msgtext->setTextCursor(cursor);
        emit f.EditMenu->aboutToShow();
        f.CutOption->trigger();
        QCOMPARE(clipboard->text(), QString("world"));
        QCOMPARE(f.msgtext->toPlainText(), QString("hello "));
        cursor.setPosition(0);
        f.msgtext->setTextCursor(cursor);
        emit f.EditMenu->aboutToShow();
        QVERIFY(f.PasteOption->isEnabled());
        f.PasteOption->trigger();
        QCOMPARE(f.msgtext->toPlainText(), QString("worldhello "));

        // The commands act on whichever box has the focus; on a button, on nothing.
        f.txtfrom->setText("me@example.net");
        f.txtfrom->setFocus();
        f.txtfrom->setSelection(0, 2);
        f.CopyOption_Click();
        QCOMPARE(clipboard->text(), QString("me"));
        f.SendBtn->setFocus();
        f.CopyOption_Click();
        f.CutOption_Click();
        f.PasteOption_Click();
        QCOMPARE(clipboard->text(), QString("me"));
        QCOMPARE(f.txtfrom->text(), QString("me@example.net"));
        QCOMPARE(f.msgtext->toPlainText(), QString("worldhello "));
    }

    void clipboardKeysFollowTheLastMenuState()
    {
        SendForm& f = form();
        QClipboard* clipboard = QGuiApplication::clipboard();
        f.msgtext->setPlainText("line one\nline two");
        emit f.EditMenu->aboutToShow(); // no selection: Copy unavailable
        f.msgtext->selectAll();
        clipboard->setText("older");
        QTest::keyClick(f.msgtext, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QString("older"));

        emit f.EditMenu->aboutToShow();
        QVERIFY(f.CopyOption->isEnabled());
        QTest::keyClick(f.msgtext, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QString("line one\nline two"));
        QTest::keyClick(f.msgtext, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(f.msgtext->toPlainText(), QString());
        QTest::keyClick(f.msgtext, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f.msgtext->toPlainText(), QString("line one\nline two"));
    }

    void closingAsksAboutAChangedMessage_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("disregard");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("closed");
        QTest::newRow("nothing typed") << "" << false << false << true;
        QTest::newRow("typed, keep it") << "hello" << false << true << false;
        QTest::newRow("typed, disregard it") << "hello" << true << true << true;
    }
    void closingAsksAboutAChangedMessage()
    {
        QFETCH(QString, typed);
        QFETCH(bool, disregard);
        QFETCH(bool, asked);
        QFETCH(bool, closed);
        SendForm& f = form();
        QTest::keyClicks(f.msgtext, typed);
        recordingPlatform().answers = {disregard ? Platform::Answer::Yes : Platform::Answer::No};
        QCOMPARE(f.close(), closed);
        RecordingPlatform& p = recordingPlatform();
        QCOMPARE(p.boxes.size(), asked ? 1 : 0);
        if (asked) {
            QCOMPARE(p.boxes.first().text, QString("Are you sure you want to disregard this message?"));
            QCOMPARE(p.boxes.first().caption, QString("Email Quobix 1.0"));
            QCOMPARE(p.boxes.first().icon, Platform::Icon::Question);
            QCOMPARE(p.boxes.first().buttons, Platform::Buttons::YesNo);
        }
        if (closed)
            QTRY_VERIFY(!m_form);
        else
            QCOMPARE(m_form->msgtext->toPlainText(), typed);
    }
};

static TestRegistration<SendFormTest> registration;

#include "SendFormTest.moc"
