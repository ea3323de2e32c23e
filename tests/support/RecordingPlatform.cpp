#include "RecordingPlatform.h"

#include "app/PrinterDevice.h"

#include <QAction>
#include <QMenu>

Platform::Answer RecordingPlatform::messageBox(QWidget*, const QString& text, Icon icon, const QString& caption,
                                               Buttons buttons)
{
    const Box box{text, icon, caption, buttons};
    boxes.append(box);
    if (whileBoxUp)
        whileBoxUp(box);
    if (!answers.isEmpty())
        return answers.takeFirst();
    return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

Platform::SaveResult RecordingPlatform::saveFileName(QWidget*, const QString& proposedName)
{
    proposedNames.append(proposedName);
    return saveResults.isEmpty() ? SaveResult{} : saveResults.takeFirst();
}

QAction* RecordingPlatform::popupMenu(QMenu* menu, const QPoint& at)
{
    menusShown.append(menu);
    menuPositions.append(at);
    if (whileMenuUp)
        whileMenuUp(menu);
    if (menuPicks.isEmpty())
        return nullptr;
    const QString pick = menuPicks.takeFirst();
    for (QAction* action : menu->actions()) {
        if (action->text() == pick) {
            action->trigger();
            return action;
        }
    }
    return nullptr;
}

int RecordingPlatform::LaunchDocument(const QString& target, const QString&, int, const QString&, const QString&,
                                      WId)
{
    launched.append(target);
    return launcher ? launcher(target) : launchResult;
}

std::unique_ptr<PrinterDevice> RecordingPlatform::defaultPrinter(QString* errorText)
{
    if (printerFactory)
        return printerFactory();
    if (errorText)
        *errorText = noPrinterText;
    return nullptr;
}

QStringList RecordingPlatform::boxTexts() const
{
    QStringList texts;
    for (const Box& box : boxes)
        texts.append(box.text);
    return texts;
}
