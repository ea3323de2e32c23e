#include "server/FingerServerSetup.h"

#include "app/FitText.h"
#include "app/Forms.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/Twips.h"
#include "server/ServerReply.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>

namespace {
constexpr int kClientWidth = 4425;
constexpr int kClientHeight = 3015;

QFont formFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8);
    return font;
}
} // namespace

FingerServerSetup::FingerServerSetup(Profile& profile, QWidget* parent) : QDialog(parent), m_profile(profile)
{
    setObjectName(QStringLiteral("FingerServerSetup"));
    setWindowTitle(QStringLiteral("Finger Server Setup"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFont(formFont());

    using Twips::place;

    auto label = [](const QString& text, QWidget* owner, const char* name, int left, int top) {
        auto* item = new QLabel(text, owner);
        item->setObjectName(QLatin1String(name));
        item->setTextFormat(Qt::PlainText);
        item->adjustSize();
        item->move(Twips::toPixelsX(left), Twips::toPixelsY(top));
        return item;
    };

    Frame1 = new QGroupBox(QStringLiteral("Enter your Finger details"), this);
    place(Frame1, "Frame1", 120, 120, 4215, 2415);
    // Positions inside the frame are relative to it.
    Label2_0 = label(QStringLiteral("Name:"), Frame1, "Label2_0", 120, 360);
    Text1 = new QLineEdit(Frame1);
    place(Text1, "Text1", 720, 360, 1335, 285);
    Label2_1 = label(QStringLiteral("Email:"), Frame1, "Label2_1", 2280, 360);
    Text2 = new QLineEdit(Frame1);
    place(Text2, "Text2", 2880, 360, 1215, 285);
    Label2_2 = label(QStringLiteral("URL:"), Frame1, "Label2_2", 120, 840);
    Text3 = new QLineEdit(QStringLiteral("http://"), Frame1);
    place(Text3, "Text3", 720, 840, 3375, 285);
    Label2_3 = label(QStringLiteral("General Description:"), Frame1, "Label2_3", 120, 1320);
    Text4 = new QPlainTextEdit(Frame1);
    Text4->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text4->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text4->setTabChangesFocus(true);
    place(Text4, "Text4", 120, 1560, 3975, 735);

    Label1 = new QLabel(QStringLiteral("When someone fingers you they will receive this information"), this);
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(Label1, "Label1", 120, 2600, 2295, 375);
    cmdOk = new QPushButton(tr("&OK"), this);
    place(cmdOk, "cmdOk", 2520, 2640, 855, 300);
    cmdCancel = new QPushButton(tr("&Cancel"), this);
    place(cmdCancel, "cmdCancel", 3480, 2640, 855, 300);
    // Enter on a focused button presses it, Enter in a one-line box is OK;
    // the description box keeps Enter for its line breaks.
    cmdOk->setDefault(true);

    for (QWidget* passive : {static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Label2_0),
                             static_cast<QWidget*>(Label2_1), static_cast<QWidget*>(Label2_2),
                             static_cast<QWidget*>(Label2_3), static_cast<QWidget*>(Label1)})
        passive->setFocusPolicy(Qt::NoFocus);
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Text3);
    setTabOrder(Text3, Text4);
    setTabOrder(Text4, cmdOk);
    setTabOrder(cmdOk, cmdCancel);
    // Each label names its box for screen readers.
    Label2_0->setBuddy(Text1);
    Label2_1->setBuddy(Text2);
    Label2_2->setBuddy(Text3);
    Label2_3->setBuddy(Text4);
    for (QWidget* box : {static_cast<QWidget*>(Text1), static_cast<QWidget*>(Text2),
                         static_cast<QWidget*>(Text3), static_cast<QWidget*>(Text4)})
        box->installEventFilter(this);

    connect(cmdOk, &QPushButton::clicked, this, &FingerServerSetup::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &FingerServerSetup::cmdCancel_Click);

    setFixedSize(Twips::toPixelsX(kClientWidth), Twips::toPixelsY(kClientHeight));
    fitTexts(this);
    Form_Load();
    Text1->setFocus();
}

FingerServerSetup::~FingerServerSetup() = default;

void FingerServerSetup::Form_Load()
{
    Forms::centreOnScreen(this);

    Text1->setText(m_profile.name);
    Text2->setText(m_profile.email);
    Text3->setText(m_profile.homepage);
    // The box breaks lines with LF; the profile keeps the reply's CR LF.
    QString description = m_profile.description;
    description.replace(ServerReply::kLineEnd, QStringLiteral("\n"));
    Text4->setPlainText(description);
}

QString FingerServerSetup::descriptionText() const
{
    // The raw text keeps every character as typed (the plain-text form turns
    // no-break spaces into spaces); each paragraph break is a line end.
    QString text = Text4->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, ServerReply::kLineEnd);
    text.replace(QChar::LineSeparator, ServerReply::kLineEnd);
    return text;
}

bool FingerServerSetup::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        // Entering a box selects its whole text, so typing replaces it.
        if (auto* line = qobject_cast<QLineEdit*>(watched))
            line->selectAll();
        else if (watched == Text4)
            Text4->selectAll();
    }
    return QDialog::eventFilter(watched, event);
}

void FingerServerSetup::cmdOk_Click()
{
    if (Text1->text().isEmpty()) {
        // No caption of its own: the platform's default one.
        platform().messageBox(this, QStringLiteral("Please enter your name!"), Platform::Icon::Critical, QString());
        Text1->setFocus();
        return;
    }
    const ServerReply::SetupOutcome outcome =
        ServerReply::setupReply(Text1->text(), Text2->text(), Text3->text(), descriptionText());
    m_profile = outcome.profile;
    emit replyChosen(outcome.reply);
    close();
}

void FingerServerSetup::cmdCancel_Click()
{
    close();
}

void FingerServerSetup::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void FingerServerSetup::Form_Resize()
{
    if (!isMinimized())
        return;
    // Minimising hides the dialog with its edits; the next request shows it at normal size.
    QTimer::singleShot(0, this, [this] {
        hide();
        setWindowState(windowState() & ~Qt::WindowMinimized);
    });
}
