#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class ReplyFinder;

// The small modeless "Find" window beside the main window: what to find, case
// and direction, Find Next and Cancel. It only gathers the search; the finder
// runs it, and Cancel or Escape stop one still running.
class FindWindow : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FindWindow)

public:
    FindWindow(ReplyFinder& finder, QWidget* owner);

    // Shows the window beside its owner with the last search filled in and selected.
    void showBeside();

    // Where a window of this size goes: right of the owner's frame, else left
    // of it, below or above it, else over its top right corner; always on the screen.
    static QPoint placeBeside(const QRect& owner, const QSize& size, const QRect& screen);

    QLineEdit* findWhat;
    QCheckBox* matchCase;
    QRadioButton* directionUp;
    QRadioButton* directionDown;
    QPushButton* findNext;
    QPushButton* cancel;

public slots:
    void reject() override;

private:
    void findNextClicked();

    ReplyFinder& m_finder;
};
