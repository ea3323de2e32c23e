#include "client/frmhost.h"

#include "app/FitText.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/Text.h"
#include "app/Twips.h"

#include <QComboBox>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>

namespace {
// The dialog's client area in twips: the frame and the button row with a margin.
constexpr int kClientWidth = 4335;
constexpr int kClientHeight = 2940;
} // namespace

frmhost::frmhost(QComboBox* hostBox, QWidget* parent)
    : QDialog(parent), m_hostBox(hostBox)
{
    setObjectName(QStringLiteral("frmhost"));
    setWindowTitle(QStringLiteral("Hostname Remover"));
    setFixedSize(Twips::toPixelsX(kClientWidth), Twips::toPixelsY(kClientHeight));

    using Twips::place;

    const QFont dialogFont = font();
    Frame1 = new QGroupBox(tr("Configured Hostnames"), this);
    place(Frame1, "Frame1", 60, 60, 4215, 2415);
    Frame1->setFont(QFont(QStringLiteral("Arial"), dialogFont.pointSize()));
    List1 = new QListWidget(Frame1);
    place(List1, "List1", 120, 300, 3075, 2010);
    // The frame's caption is the list's only label.
    List1->setAccessibleName(Frame1->title());
    Command5 = new QPushButton(tr("&Remove"), Frame1);
    place(Command5, "Command5", 3240, 300, 915, 300);
    // The frame's face is for its caption only; what it holds keeps the dialog's.
    List1->setFont(dialogFont);
    Command5->setFont(dialogFont);
    Command2 = new QPushButton(tr("&OK"), this);
    place(Command2, "Command2", 2220, 2580, 975, 300);
    Command1 = new QPushButton(tr("&Cancel"), this);
    place(Command1, "Command1", 3300, 2580, 975, 300);

    // Enter on a focused button presses it, Enter anywhere else is OK.
    Command2->setDefault(true);

    connect(Command5, &QPushButton::clicked, this, &frmhost::Command5_Click);
    connect(Command2, &QPushButton::clicked, this, &frmhost::Command2_Click);
    connect(Command1, &QPushButton::clicked, this, &frmhost::Command1_Click);

    fitTexts(this);
    Form_Load();
}

frmhost::~frmhost() = default;

void frmhost::Form_Load()
{
    List1->clear();
    for (int i = 0; i < kHostListSize; ++i) {
        const QString host = i < m_hostBox->count() ? m_hostBox->itemText(i) : QString();
        if (!host.isEmpty())
            List1->addItem(host);
    }
    List1->setCurrentRow(-1);
}

void frmhost::Command5_Click()
{
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    if (!selected.isEmpty() && !selected.first()->text().isEmpty()) {
        delete List1->takeItem(List1->row(selected.first()));
        // Like the list it imitates, nothing stays selected after a removal.
        List1->setCurrentRow(-1);
        List1->clearSelection();
        return;
    }
    platform().messageBox(this, QStringLiteral("Please select a Host address to remove."),
                          Platform::Icon::Exclamation, kAppTitle);
    List1->setFocus();
}

void frmhost::Command2_Click()
{
    m_hostBox->clear();
    for (int i = 0; i < kHostListSize; ++i) {
        const QString host = i < List1->count() ? List1->item(i)->text() : QString();
        if (!trimBlanks(host).isEmpty())
            m_hostBox->addItem(host);
    }
    if (m_hostBox->count() > 0)
        m_hostBox->setCurrentIndex(0);
    close();
}

void frmhost::Command1_Click()
{
    close();
}
