#include "packages/about_window/about_window_view.h"

#include "packages/about_window/about_window_footer.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantrel {

namespace {

constexpr int iconSide = 152;
constexpr int iconPadding = 38;

QFont scaledFont(const QFont& base, qreal factor, bool bold = false)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

QLabel* plainLabel(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

// Muted text of the window (version and copyright lines), following the palette.
void mute(QLabel* label)
{
    label->setForegroundRole(QPalette::PlaceholderText);
}

// A button drawn as a link, in the palette's link colour.
QToolButton* linkButton(const QString& title, const QString& objectName, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setText(title);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setForegroundRole(QPalette::Link);
    QPalette palette = button->palette();
    palette.setBrush(QPalette::ButtonText, palette.brush(QPalette::Link));
    button->setPalette(palette);
    return button;
}

} // namespace

AboutWindowView::AboutWindowView(std::shared_ptr<QorAboutWindow> model, QWidget* parent)
    : QWidget(parent),
      m_model(std::move(model))
{
    setFixedSize(fixedSize);

    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("appIcon"));
    iconLabel->setFixedSize(iconSide, iconSide);
    iconLabel->setScaledContents(true);
    iconLabel->setPixmap(m_model->appIcon());

    auto* iconColumn = new QVBoxLayout;
    iconColumn->setContentsMargins(iconPadding, iconPadding, iconPadding, iconPadding);
    iconColumn->addWidget(iconLabel);
    iconColumn->addStretch();

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addLayout(iconColumn);
    top->addWidget(makeInformationColumn(), 1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    divider->setFixedHeight(1);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addLayout(top, 1);
    root->addWidget(divider);
    root->addWidget(new AboutWindowFooter(*m_model, this));
}

QWidget* AboutWindowView::makeInformationColumn()
{
    const AboutWindowSettings& settings = m_model->settings();
    auto* column = new QWidget(this);

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("aboutContent"));
    auto* name = plainLabel(settings.appName, QStringLiteral("appName"), content);
    name->setFont(scaledFont(font(), 1.7, true));
    auto* version = plainLabel(settings.appVersion, QStringLiteral("appVersion"), content);
    version->setFont(scaledFont(font(), 0.85));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    mute(version);
    auto* credits = plainLabel(settings.credits, QStringLiteral("credits"), content);
    credits->setWordWrap(true);

    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 22, 16, 0);
    contentLayout->setSpacing(10);
    contentLayout->addWidget(name);
    contentLayout->addWidget(version);
    contentLayout->addWidget(credits);
    contentLayout->addStretch();
    contentLayout->addWidget(makeContactSection());

    auto* scroll = new QScrollArea(column);
    scroll->setObjectName(QStringLiteral("aboutScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    scroll->viewport()->setBackgroundRole(QPalette::Window);
    content->setBackgroundRole(QPalette::Window);

    auto* copyright = plainLabel(settings.copyright, QStringLiteral("copyright"), column);
    copyright->setFont(scaledFont(font(), 0.77));
    copyright->setMargin(2);
    mute(copyright);
    auto* copyrightBar = new QWidget(column);
    copyrightBar->setFixedSize(365, 16);
    auto* copyrightLayout = new QHBoxLayout(copyrightBar);
    copyrightLayout->setContentsMargins(0, 0, 0, 0);
    copyrightLayout->addWidget(copyright);
    copyrightLayout->addStretch();

    auto* scrollRow = new QHBoxLayout;
    scrollRow->setContentsMargins(0, 0, 16, 0);
    scrollRow->addWidget(scroll);

    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(scrollRow, 1);
    layout->addWidget(copyrightBar, 0, Qt::AlignHCenter);
    return column;
}

QWidget* AboutWindowView::makeContactSection()
{
    const ContactInfo& contact = m_model->settings().contactInfo;
    auto* section = new QWidget;

    //: Contact introduction
    auto* introduction = plainLabel(QCoreApplication::translate("QorAboutWindow", "You can reach us through"),
                                    QStringLiteral("contactIntroduction"), section);
    auto* email = linkButton(contact.emailDescription, QStringLiteral("emailLink"), section);
    connect(email, &QToolButton::clicked, m_model.get(), [model = m_model.get()] { model->openEmail(); });
    //: Word for another option
    auto* either =
        plainLabel(QCoreApplication::translate("QorAboutWindow", "or"), QStringLiteral("contactOr"), section);
    auto* twitter = linkButton(contact.twitterHandleDescription, QStringLiteral("twitterLink"), section);
    connect(twitter, &QToolButton::clicked, m_model.get(), [model = m_model.get()] { model->openTwitterHandle(); });

    auto* links = new QHBoxLayout;
    links->setContentsMargins(0, 0, 0, 0);
    links->addWidget(email);
    links->addWidget(either);
    links->addWidget(twitter);
    links->addStretch();

    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(introduction);
    layout->addLayout(links);
    return section;
}

} // namespace vantrel
