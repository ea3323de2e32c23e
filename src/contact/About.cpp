#include "contact/About.h"

#include "app/Config.h"
#include "app/FitText.h"
#include "app/Forms.h"
#include "app/Platform.h"
#include "app/Twips.h"

#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>

namespace {
constexpr int kClientWidth = 4980;
constexpr int kClientHeight = 2265;

// Fonts this machine may lack fall back to a metric twin or a plain sans.
QFont formFont(const QString& family, double points, bool bold)
{
    QFont font;
    font.setFamilies({family, QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}
} // namespace

About::About(const QIcon& icon, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("About...."));
    setFont(formFont(QStringLiteral("MS Sans Serif"), 8, false));

    using Twips::place;

    auto label = [this](const QString& text) {
        auto* item = new QLabel(text, this);
        item->setTextFormat(Qt::PlainText);
        return item;
    };

    Picture1 = new QLabel(this);
    Picture1->setPixmap(icon.pixmap(Twips::toPixelsX(480), Twips::toPixelsY(480)));
    place(Picture1, "Picture1", 120, 105, 480, 480);
    Label1 = label(QStringLiteral("Finger Quobix"));
    Label1->setFont(formFont(QStringLiteral("Arial"), 14.25, true));
    place(Label1, "Label1", 720, 105, 1965, 330);
    cmdOK = new QPushButton(tr("&OK"), this);
    cmdOK->setDefault(true);
    place(cmdOK, "cmdOK", 4080, 105, 855, 330);
    Label5_1 = label(QStringLiteral("Version 2.2 - Free Edition"));
    Label5_1->setFont(formFont(QStringLiteral("MS Sans Serif"), 9.75, true));
    place(Label5_1, "Label5_1", 720, 465, 2625, 240);
    Label6 = label(tr("Copyright \u00A9 1999-2002 Yarbo"));
    Label6->setFont(formFont(QStringLiteral("MS Sans Serif"), 9.75, true));
    place(Label6, "Label6", 720, 705, 3855, 270);
    Label5_0 = label(QStringLiteral("Email: ") + kAuthorMailbox);
    place(Label5_0, "Label5_0", 240, 1050, 1575, 195);
    Label4 = label(QStringLiteral("Web: ") + kAuthorHomePageShort);
    place(Label4, "Label4", 2640, 1050, 2025, 195);
    Frame1 = new QFrame(this);
    Frame1->setFrameShape(QFrame::HLine);
    Frame1->setFrameShadow(QFrame::Sunken);
    place(Frame1, "Frame1", 0, 1365, 4935, 30);
    Label2 = label(tr("Warning: this program is protected by copyright law. Copying or passing it on, "
                      "in whole or in part, without the author's permission is not allowed and may be "
                      "prosecuted."));
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(Label2, "Label2", 60, 1470, 4875, 825);
    lblPointer = label(QString());
    lblPointer->setCursor(Qt::PointingHandCursor);
    lblPointer->setVisible(false);
    place(lblPointer, "lblPointer", 0, 0, 0, 0);

    for (QLabel* link : {Label5_0, Label4}) {
        QPalette palette = link->palette();
        palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
        link->setPalette(palette);
        // The links show the author's real address; never clip it.
        link->resize(std::max(link->width(), link->sizeHint().width()), link->height());
    }
    for (QLabel* clickable : {Label5_0, Label5_1, Label4})
        clickable->installEventFilter(this);
    // The links are reached with Tab too and opened with Enter or Space.
    Label5_0->setFocusPolicy(Qt::TabFocus);
    Label4->setFocusPolicy(Qt::TabFocus);

    // OK comes first in the tab order and has the focus when the box opens.
    setTabOrder(cmdOK, Label5_0);
    setTabOrder(Label5_0, Label4);
    cmdOK->setFocus();
    connect(cmdOK, &QPushButton::clicked, this, &About::cmdOK_Click);

    setFixedSize(Twips::toPixelsX(kClientWidth), Twips::toPixelsY(kClientHeight));
    fitTexts(this);
    Form_Load();
}

About::~About() = default;

void About::Form_Load()
{
    Forms::centreOnScreen(this);
    Label5_0->setCursor(lblPointer->cursor());
    Label4->setCursor(lblPointer->cursor());
}

void About::cmdOK_Click()
{
    close();
}

void About::Label5_Click(int Index)
{
    if (Index == 0)
        emit mailLinkClicked();
}

void About::Label4_Click()
{
    emit webLinkClicked();
}

void About::labelClicked(QLabel* label)
{
    if (label == Label5_0)
        Label5_Click(0);
    else if (label == Label5_1)
        Label5_Click(1);
    else if (label == Label4)
        Label4_Click();
}

bool About::eventFilter(QObject* watched, QEvent* event)
{
    auto* label = qobject_cast<QLabel*>(watched);
    if (!label)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
            labelClicked(label);
            return true;
        }
        break;
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            labelClicked(label);
            return true;
        }
        break;
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut: {
        // A focused link shows highlighted, so the keyboard user sees where Enter goes.
        const bool focused = event->type() == QEvent::FocusIn;
        label->setAutoFillBackground(focused);
        label->setBackgroundRole(focused ? QPalette::Highlight : QPalette::Window);
        label->setForegroundRole(focused ? QPalette::HighlightedText : QPalette::WindowText);
        break;
    }
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}
