#include "reply/FindWindow.h"

#include "reply/ReplyFinder.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kGap = 8;
} // namespace

FindWindow::FindWindow(ReplyFinder& finder, QWidget* owner) : QDialog(owner), m_finder(finder)
{
    setObjectName(QStringLiteral("FindWindow"));
    setWindowTitle(tr("Find"));
    // A dialog of the main window, not a tool window: it stays over it, and
    // the main window's own keys (Escape stops a query) do not reach into it.
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* label = new QLabel(tr("Find what:"), this);
    findWhat = new QLineEdit(this);
    findWhat->setObjectName(QStringLiteral("findWhat"));
    label->setBuddy(findWhat);
    matchCase = new QCheckBox(tr("Match &case"), this);
    matchCase->setObjectName(QStringLiteral("matchCase"));
    auto* direction = new QGroupBox(tr("Direction"), this);
    directionUp = new QRadioButton(tr("&Up"), direction);
    directionUp->setObjectName(QStringLiteral("directionUp"));
    directionDown = new QRadioButton(tr("&Down"), direction);
    directionDown->setObjectName(QStringLiteral("directionDown"));
    directionDown->setChecked(true);
    auto* directionRow = new QHBoxLayout(direction);
    directionRow->addWidget(directionUp);
    directionRow->addWidget(directionDown);
    findNext = new QPushButton(tr("&Find Next"), this);
    findNext->setObjectName(QStringLiteral("findNext"));
    findNext->setDefault(true);
    findNext->setEnabled(false);
    cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));

    auto* whatRow = new QHBoxLayout;
    whatRow->addWidget(label);
    whatRow->addWidget(findWhat, 1);
    auto* optionsRow = new QHBoxLayout;
    optionsRow->addWidget(matchCase, 0, Qt::AlignBottom);
    optionsRow->addStretch(1);
    optionsRow->addWidget(direction);
    auto* left = new QVBoxLayout;
    left->addLayout(whatRow);
    left->addLayout(optionsRow);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(findNext);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto* all = new QHBoxLayout(this);
    all->addLayout(left, 1);
    all->addLayout(buttons);

    connect(findWhat, &QLineEdit::textChanged, this,
            [this](const QString& text) { findNext->setEnabled(!text.isEmpty()); });
    connect(findNext, &QPushButton::clicked, this, &FindWindow::findNextClicked);
    connect(cancel, &QPushButton::clicked, this, &FindWindow::reject);
    // F3 and Shift+F3 go on finding here too, as from the main window.
    for (const bool backward : {false, true}) {
        auto* again = new QShortcut(backward ? QKeySequence(Qt::SHIFT | Qt::Key_F3) : QKeySequence(Qt::Key_F3), this);
        connect(again, &QShortcut::activated, this, [this, backward] {
            if (!findWhat->text().isEmpty())
                m_finder.find({findWhat->text(), matchCase->isChecked(), backward});
        });
    }
}

void FindWindow::showBeside()
{
    const ReplySearch::Options& last = m_finder.lastSearch();
    if (!last.what.isEmpty()) {
        findWhat->setText(last.what);
        matchCase->setChecked(last.matchCase);
        (last.backward ? directionUp : directionDown)->setChecked(true);
    }
    findWhat->selectAll();
    findWhat->setFocus();
    if (!isVisible()) {
        adjustSize();
        if (QWidget* owner = parentWidget()) {
            const QScreen* screen = owner->screen();
            const QRect room = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), QSize(1024, 768));
            move(placeBeside(owner->frameGeometry(), frameGeometry().size(), room));
        }
    }
    show();
    raise();
    activateWindow();
}

QPoint FindWindow::placeBeside(const QRect& owner, const QSize& size, const QRect& screen)
{
    // Beside, then below or above, so the match it selects stays in sight.
    const QPoint tries[] = {{owner.right() + 1 + kGap, owner.top()},
                            {owner.left() - kGap - size.width(), owner.top()},
                            {owner.right() + 1 - size.width(), owner.bottom() + 1 + kGap},
                            {owner.right() + 1 - size.width(), owner.top() - kGap - size.height()}};
    for (const QPoint& at : tries) {
        if (screen.contains(QRect(at, size)))
            return at;
    }
    // No room outside: over the owner's top right corner, on the screen.
    QPoint at(owner.right() - size.width() - 2 * kGap, owner.top() + 4 * kGap);
    at.setX(std::clamp(at.x(), screen.left(), std::max(screen.left(), screen.right() + 1 - size.width())));
    at.setY(std::clamp(at.y(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height())));
    return at;
}

void FindWindow::findNextClicked()
{
    if (findWhat->text().isEmpty())
        return;
    m_finder.find({findWhat->text(), matchCase->isChecked(), directionUp->isChecked()});
}

void FindWindow::reject()
{
    m_finder.stop();
    QDialog::reject();
}
