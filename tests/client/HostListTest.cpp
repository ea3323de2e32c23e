#include "ClientHarness.h"
#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/Settings.h"
#include "app/Twips.h"
#include "client/frmhost.h"

#include <QApplication>
#include <QGroupBox>
#include <QListWidget>

using namespace User;

namespace {
void writeTable(const QStringList& table)
{
    for (int n = 0; n < table.size(); ++n)
        Settings::write(kAppName, QStringLiteral("Setup"), QStringLiteral("Host List%1").arg(n), table[n]);
}

QStringList storedTable()
{
    QStringList table;
    for (int n = 0; n < kHostListSize; ++n)
        table << Settings::read(kAppName, QStringLiteral("Setup"), QStringLiteral("Host List%1").arg(n));
    return table;
}

// Twenty loopback addresses, 127.0.0.1 first.
QStringList fullList()
{
    QStringList hosts;
    for (int i = 1; i <= kHostListSize; ++i)
        hosts << QStringLiteral("127.0.0.%1").arg(i);
    return hosts;
}

QStringList listItems(const QListWidget* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}
} // namespace

class HostListTest : public ProgramTest
{
    Q_OBJECT

    // Queries end at once against a port nobody listens on, and still offer their host.
    void startWithTable(const QStringList& table)
    {
        resetEnvironment();
        writeTable(table);
        launch(clientConfig(closedPort()));
    }

    // Typed into the focused host box of the active window, as a user does, so
    // that whatever the box does on key presses and on losing the focus happens.
    void query(const QString& host, bool longQuery)
    {
        finger& w = window();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.text2->setFocus(Qt::MouseFocusReason);
        typeHost(w, host);
        longQuery ? clickLong(w) : clickShort(w);
        QTRY_VERIFY(!w.isBusy());
    }

    frmhost* openRemover()
    {
        window().mnuHost->trigger();
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<frmhost*>(top); dialog && dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }

private slots:
    void cleanup() { stopProgram(); }

    void startUpFill_data()
    {
        QTest::addColumn<QStringList>("table");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("shown");
        QTest::newRow("gap closes up") << QStringList {"a", "", "b"} << QStringList {"a", "b"} << "a";
        QTest::newRow("first slot empty") << QStringList {"", "x"} << QStringList {"x"} << "x";
        QTest::newRow("blank-only slot is an entry") << QStringList {"", "  ", "c"} << QStringList {"  ", "c"}
                                                     << "  ";
        QTest::newRow("empty table") << QStringList {} << QStringList {} << "";
        QTest::newRow("control characters never come back")
            << QStringList {QString("127.0.0.1") + QChar(0) + "evil.example", "a\tb", "c", "d\x7f"}
            << QStringList {"c"} << "c";
    }
    void startUpFill()
    {
        QFETCH(QStringList, table);
        QFETCH(QStringList, list);
        QFETCH(QString, shown);
        startWithTable(table);
        QCOMPARE(hostList(window()), list);
        QCOMPARE(window().text2->currentText(), shown);
    }

    void addRules_data()
    {
        QTest::addColumn<QStringList>("table");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("longQuery");
        QTest::addColumn<QStringList>("list");
        const QStringList full = fullList();
        QTest::newRow("new host on top") << QStringList {"127.0.0.2"} << "127.0.0.3" << false
                                         << QStringList {"127.0.0.3", "127.0.0.2"};
        QTest::newRow("listed host keeps its place") << QStringList {"127.0.0.2", "127.0.0.3"} << "127.0.0.3" << true
                                                     << QStringList {"127.0.0.2", "127.0.0.3"};
        QTest::newRow("letter case makes a new entry") << QStringList {"localhost"} << "LOCALHOST" << false
                                                       << QStringList {"LOCALHOST", "localhost"};
        QTest::newRow("prefix of a listed host") << QStringList {"127.0.0.10"} << "127.0.0.1" << false
                                                 << QStringList {"127.0.0.1", "127.0.0.10"};
        QTest::newRow("blanks make a new entry") << QStringList {"127.0.0.2"} << " 127.0.0.2" << true
                                                 << QStringList {" 127.0.0.2", "127.0.0.2"};
        QTest::newRow("full list, short query") << full << "127.0.0.99" << false
                                                << (QStringList {"127.0.0.99"} + full.mid(0, 19));
        QTest::newRow("full list, long query") << full << "127.0.0.99" << true
                                               << (QStringList {"127.0.0.99"} + full.mid(0, 19));
    }
    void addRules()
    {
        QFETCH(QStringList, table);
        QFETCH(QString, host);
        QFETCH(bool, longQuery);
        QFETCH(QStringList, list);
        startWithTable(table);
        query(host, longQuery);
        QCOMPARE(hostList(window()), list);
        QCOMPARE(window().statusText(), "Error trying to connect to " + host);
    }

    void queryKeepsTypedHostWhenLastEntryGoes_data()
    {
        QTest::addColumn<bool>("longQuery");
        QTest::newRow("short") << false;
        QTest::newRow("long") << true;
    }
    void queryKeepsTypedHostWhenLastEntryGoes()
    {
        QFETCH(bool, longQuery);
        startWithTable(fullList());
        finger& w = window();
        // Pick the last entry, then type over it: that entry is the one pushed out.
        w.text2->setCurrentIndex(19);
        query("127.0.0.99", longQuery);
        QCOMPARE(w.text2->count(), 20);
        QVERIFY(!hostList(w).contains("127.0.0.20"));
        QCOMPARE(w.text2->currentText(), QString("127.0.0.99"));
    }

    void gotFocusSelectsAll()
    {
        startWithTable({});
        finger& w = window();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        typeHost(w, "some.host");
        typeUser(w, "joe");
        w.text1->setFocus();
        w.text2->lineEdit()->deselect();
        w.Text3->deselect();
        w.text2->setFocus(Qt::OtherFocusReason);
        QCOMPARE(w.text2->lineEdit()->selectedText(), QString("some.host"));
        w.Text3->setFocus(Qt::OtherFocusReason);
        QCOMPARE(w.Text3->selectedText(), QString("joe"));
    }

    void removerShowsListInItsLayout()
    {
        startWithTable({"a", "  ", "b"});
        frmhost* dialog = openRemover();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QString("Hostname Remover"));
        QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
        QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(dialog->findChild<QGroupBox*>("Frame1")->title(), QString("Configured Hostnames"));
        QCOMPARE(dialog->findChild<QWidget*>("Frame1")->geometry(), Twips::toPixels(60, 60, 4215, 2415));
        QCOMPARE(dialog->findChild<QWidget*>("List1")->geometry(), Twips::toPixels(120, 300, 3075, 2010));
        QCOMPARE(dialog->findChild<QPushButton*>("Command5")->geometry(), Twips::toPixels(3240, 300, 915, 300));
        QCOMPARE(dialog->findChild<QPushButton*>("Command2")->geometry(), Twips::toPixels(2220, 2580, 975, 300));
        QCOMPARE(dialog->findChild<QPushButton*>("Command1")->geometry(), Twips::toPixels(3300, 2580, 975, 300));
        QCOMPARE(dialog->Command5->text(), QString("&Remove"));
        QCOMPARE(dialog->Command2->text(), QString("&OK"));
        QCOMPARE(dialog->Command1->text(), QString("&Cancel"));
        QCOMPARE(listItems(dialog->List1), (QStringList {"a", "  ", "b"}));
        QVERIFY(dialog->List1->selectedItems().isEmpty());
        // Centred on the screen.
        const QRect frame = dialog->frameGeometry();
        const QSize screen = recordingPlatform().screen;
        QVERIFY(qAbs(frame.center().x() - screen.width() / 2) <= 1);
        QVERIFY(qAbs(frame.center().y() - screen.height() / 2) <= 1);
        dialog->Command1->click();
        QTRY_VERIFY(!openRemover() || openRemover() != dialog);
    }

    void removeThenCancelOrOk_data()
    {
        QTest::addColumn<int>("how"); // 0 "&Cancel", 1 "&OK", 2 Escape
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("cancel") << 0 << QStringList {"a", "  ", "b", "c"} << "typed"
                                << QStringList {"a", "  ", "b", "c"};
        // The blank-only entry goes too; keys past the list are written empty.
        QTest::newRow("ok") << 1 << QStringList {"b"} << "b" << QStringList {"b", "", "", ""};
        QTest::newRow("escape") << 2 << QStringList {"a", "  ", "b", "c"} << "typed"
                                << QStringList {"a", "  ", "b", "c"};
    }
    void removeThenCancelOrOk()
    {
        QFETCH(int, how);
        QFETCH(QStringList, list);
        QFETCH(QString, shown);
        QFETCH(QStringList, stored);
        startWithTable({"a", "  ", "b", "c"});
        finger& w = window();
        typeHost(w, "typed");
        QPointer<frmhost> dialog = openRemover();
        QVERIFY(dialog);
        for (const char* host : {"a", "c"}) {
            QListWidgetItem* item = dialog->List1->findItems(host, Qt::MatchExactly).first();
            QTest::mouseClick(dialog->List1->viewport(), Qt::LeftButton, {},
                              dialog->List1->visualItemRect(item).center());
            QTest::mouseClick(dialog->Command5, Qt::LeftButton);
        }
        QCOMPARE(listItems(dialog->List1), (QStringList {"  ", "b"}));
        QVERIFY(recordingPlatform().boxes.isEmpty());
        if (how == 2)
            QTest::keyClick(dialog->List1, Qt::Key_Escape);
        else
            QTest::mouseClick(how == 1 ? dialog->Command2 : dialog->Command1, Qt::LeftButton);
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(hostList(w), list);
        QCOMPARE(w.text2->currentText(), shown);

        m_program->tray->Form_QueryUnload();
        QCOMPARE(storedTable().mid(0, 4), stored);
        QCOMPARE(storedTable().mid(4), QStringList(16, QString()));
    }

    void removerOpensOnlyOnce()
    {
        startWithTable({"a", "b"});
        QPointer<frmhost> first = openRemover();
        QVERIFY(first);
        first->List1->setCurrentRow(0);
        first->Command5_Click();
        window().mnuHost->trigger();
        QList<frmhost*> open;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<frmhost*>(top); dialog && dialog->isVisible())
                open << dialog;
        }
        QCOMPARE(open, QList<frmhost*> {first});
        QCOMPARE(listItems(first->List1), QStringList {"b"});

        QTest::mouseClick(first->Command1, Qt::LeftButton);
        // Opened again at once, before the closed one is gone: a fresh copy of the list.
        frmhost* second = openRemover();
        QVERIFY(second);
        QVERIFY(second != first);
        QCOMPARE(listItems(second->List1), (QStringList {"a", "b"}));
        QTest::mouseClick(second->Command2, Qt::LeftButton);
        QTRY_VERIFY(first.isNull());
    }

    void removeWithNothingSelectedAsks()
    {
        startWithTable({"a", "b"});
        frmhost* dialog = openRemover();
        QVERIFY(dialog);
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        dialog->Command2->setFocus();
        QTest::mouseClick(dialog->Command5, Qt::LeftButton);
        QCOMPARE(recordingPlatform().boxTexts(), QStringList {"Please select a Host address to remove."});
        const RecordingPlatform::Box box = recordingPlatform().boxes.first();
        QCOMPARE(box.icon, Platform::Icon::Exclamation);
        QCOMPARE(box.caption, QString("Finger Quobix 2.2"));
        QVERIFY(dialog->List1->hasFocus());

        // A removal leaves nothing selected, so the next Remove asks again.
        dialog->List1->setCurrentRow(0);
        QTest::mouseClick(dialog->Command5, Qt::LeftButton);
        QCOMPARE(listItems(dialog->List1), QStringList {"b"});
        QTest::mouseClick(dialog->Command5, Qt::LeftButton);
        QCOMPARE(recordingPlatform().boxes.size(), 2);
        QCOMPARE(listItems(dialog->List1), QStringList {"b"});
        dialog->close();
        QCOMPARE(hostList(window()), (QStringList {"a", "b"}));
    }

    void okWithEveryEntryRemovedEmptiesList()
    {
        startWithTable({"a"});
        QPointer<frmhost> dialog = openRemover();
        dialog->List1->setCurrentRow(0);
        dialog->Command5_Click();
        dialog->Command2_Click();
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(hostList(window()).isEmpty());
        m_program->tray->Form_QueryUnload();
        QCOMPARE(storedTable(), QStringList(kHostListSize, QString()));
        // The removed host stays removed in the next run.
        launch(clientConfig(closedPort()));
        QVERIFY(hostList(window()).isEmpty());
    }

    void exitStoresQueriedHosts()
    {
        startWithTable({"127.0.0.2", "", "127.0.0.3"});
        query("127.0.0.4", true);
        m_program->tray->Form_QueryUnload();
        QCOMPARE(storedTable().mid(0, 4), (QStringList {"127.0.0.4", "127.0.0.2", "127.0.0.3", ""}));
    }
};

static TestRegistration<HostListTest> registration;

#include "HostListTest.moc"
