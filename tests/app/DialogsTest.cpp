#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "client/frmhost.h"
#include "contact/About.h"
#include "contact/SendForm.h"
#include "server/FingerServerSetup.h"

#include "app/QtPlatform.h"

#include <QAbstractButton>
#include <QAction>
#include <QFileDialog>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <map>

// The program's windows as a keyboard user and a reader meet them.
class DialogsTest : public ProgramTest
{
    Q_OBJECT

private slots:
    void init()
    {
        resetEnvironment();
        launch();
    }
    void cleanup() { stopProgram(); }

    void enterAndEscape_data()
    {
        QTest::addColumn<QString>("which");
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
        QFETCH(QString, which);
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(QString, pressed);
        QFETCH(bool, closed);
        QFETCH(QStringList, boxes);
        QPointer<QWidget> dialog = openWindow(which);
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
        if (which == "setup")
            QCOMPARE(window().profile().name, QString(pressed == "cmdOk" ? "Bob" : ""));
    }

    // Every text shows whole at the default fonts: labels wide and tall
    // enough (or wrapped) and inside their window, captions within their buttons.
    void everyTextShowsWhole_data()
    {
        QTest::addColumn<QString>("which");
        for (const char* which : {"main", "setup", "remover", "feedback", "about"})
            QTest::newRow(which) << QString(which);
    }
    void everyTextShowsWhole()
    {
        QFETCH(QString, which);
        QWidget* shown = openWindow(which);
        QVERIFY(shown);
        QStringList cut;
        for (QLabel* label : shown->findChildren<QLabel*>()) {
            if (label->text().isEmpty() || !label->isVisibleTo(shown))
                continue;
            const int width = label->width();
            const QSize needed = label->wordWrap() ? QSize(0, label->heightForWidth(width)) : label->sizeHint();
            const QRect inWindow(label->mapTo(shown, QPoint(0, 0)), label->size());
            if (needed.width() > width || needed.height() > label->height() || !shown->rect().contains(inWindow))
                cut << QStringLiteral("%1 needs %2x%3, has %4x%5 at %6,%7 in %8x%9")
                           .arg(label->objectName())
                           .arg(needed.width()).arg(needed.height()).arg(width).arg(label->height())
                           .arg(inWindow.x()).arg(inWindow.y()).arg(shown->width()).arg(shown->height());
        }
        for (QAbstractButton* button : shown->findChildren<QAbstractButton*>()) {
            const QString caption = QString(button->text()).remove(QLatin1Char('&'));
            if (button->fontMetrics().horizontalAdvance(caption) + 8 > button->width())
                cut << button->objectName();
        }
        for (QGroupBox* frame : shown->findChildren<QGroupBox*>()) {
            if (frame->fontMetrics().horizontalAdvance(frame->title()) + 16 > frame->width())
                cut << frame->objectName();
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
    }

    // A short message box is still wide enough for its caption in the title bar.
    void messageBoxIsWideEnoughForItsCaption()
    {
        QtPlatform real;
        int boxWidth = 0;
        QTimer::singleShot(0, this, [&boxWidth] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            boxWidth = box->width();
            box->accept();
        });
        real.messageBox(nullptr, QStringLiteral("Hi"), Platform::Icon::Exclamation, QString(), Platform::Buttons::Ok);
        const int caption = QFontMetrics(QApplication::font()).horizontalAdvance(QStringLiteral("Finger Quobix 2.2"));
        QVERIFY2(boxWidth >= caption + 120, qPrintable(QString::number(boxWidth)));
    }

    // A path refused for its missing folder comes back in the Save As dialog exactly as typed.
    void saveAsKeepsTheTypedPathAfterAMissingFolder()
    {
        QTemporaryDir dir;
        const QString typed = dir.filePath("missing/new.txt");
        QtPlatform real;
        QStringList shown;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                box->accept();
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                shown.append(name->text());
                if (shown.size() == 1) {
                    name->setText(typed);
                    static_cast<QDialog*>(dialog)->accept(); // as the Save button does
                } else {
                    dialog->reject();
                }
            }
        });
        user.start(20);

        const Platform::SaveResult result = real.saveFileName(nullptr, "Finger Quobix Log.txt");

        QCOMPARE(shown, (QStringList{"Finger Quobix Log.txt", typed}));
        QVERIFY(result.fileName.isEmpty());
        QVERIFY(!result.failed);
    }
};

static TestRegistration<DialogsTest> registration;
#include "DialogsTest.moc"
