#include "views/detail/name_input_view.h"

#include "design/palette.h"
#include "engine/document_type.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "model/versioned_item.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {

namespace {

using Action = NameInput::Action;

QString renamedTypeDescription(const NameInput& input)
{
    return input.item ? input.item->documentType().shortDescription() : QString();
}

QLabel* textLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

NameInputView::NameInputView(NameInput input, std::optional<QString> invalidCharacters, const QIcon& appIcon,
                             QWidget* parent)
    : QWidget(parent),
      m_input(std::move(input)),
      m_invalidCharacters(std::move(invalidCharacters))
{
    setObjectName(QStringLiteral("nameInputView"));
    setFixedWidth(width);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, design::neutral(7));
    setPalette(background);

    auto* icon = new QLabel(this);
    icon->setPixmap(appIcon.pixmap(56, 56));
    icon->setFixedSize(56, 56);
    icon->setScaledContents(true);

    auto* title = textLabel(this->title(), this);
    title->setObjectName(QStringLiteral("nameInputTitle"));
    QFont headline = title->font();
    headline.setPointSizeF(headline.pointSizeF() * 1.1);
    headline.setWeight(QFont::DemiBold);
    title->setFont(headline);

    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(placeholder());
    m_field->setFixedWidth(276);
    if (m_input.action == Action::rename && m_input.item)
        m_field->setText(m_input.item->name());
    connect(m_field, &QLineEdit::textChanged, this, &NameInputView::validate);

    m_cancel = new QPushButton(Strings::cancelActionTitle(), this);
    m_confirm = new QPushButton(confirmTitle(), this);
    m_confirm->setDefault(true);
    connect(m_cancel, &QPushButton::clicked, this, &NameInputView::cancelled);
    connect(m_confirm, &QPushButton::clicked, this, [this] {
        if (canConfirm())
            Q_EMIT confirmed(name());
    });

    m_error = textLabel(Strings::invalidNameMessage(), this);
    m_error->setObjectName(QStringLiteral("nameInputError"));
    QPalette red = m_error->palette();
    red.setColor(QPalette::WindowText, QColor(Qt::red));
    m_error->setPalette(red);
    m_error->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_error->setContentsMargins(0, 0, 4, 0);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(16, 16 + 12, 16, 16);
    root->setSpacing(16);
    root->addWidget(icon, 0, Qt::AlignHCenter);
    auto* heading = new QVBoxLayout;
    heading->setSpacing(4);
    heading->setContentsMargins(0, 0, 0, 8);
    heading->addWidget(title);
    if (m_input.action == Action::newTeam) {
        auto* explanation = textLabel(Strings::teamBundleNameMessage(), this);
        explanation->setObjectName(QStringLiteral("nameInputExplanation"));
        explanation->setWordWrap(true);
        QFont footnote = explanation->font();
        footnote.setPointSizeF(footnote.pointSizeF() * 0.85);
        explanation->setFont(footnote);
        QPalette muted = explanation->palette();
        muted.setColor(QPalette::WindowText, design::neutral(0));
        explanation->setPalette(muted);
        explanation->setContentsMargins(12, 0, 12, 0);
        heading->addWidget(explanation);
    }
    root->addLayout(heading);
    root->addWidget(m_field, 0, Qt::AlignHCenter);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_confirm);
    root->addLayout(buttons);
    root->addWidget(m_error);
    refresh();
}

QString NameInputView::title() const
{
    switch (m_input.action) {
    case Action::newTeam:
        return Strings::createNewTeamActionTitle();
    case Action::newCollection:
        return Strings::newCollectionTitle();
    case Action::newLibrary:
        return Strings::newLibraryActionTitle(DocumentType::library().description());
    case Action::newEvent:
        return Strings::newEventActionTitle(DocumentType::event().description());
    case Action::rename:
        return formatText(Strings::renameItemTitle(), renamedTypeDescription(m_input));
    }
    return {};
}

QString NameInputView::placeholder() const
{
    switch (m_input.action) {
    case Action::newTeam:
        return Strings::teamBundleNamePlaceholder();
    case Action::newCollection:
        return Strings::collectionNamePlaceholder();
    case Action::newLibrary:
        return Strings::newLibraryNamePlaceholder(DocumentType::library().description());
    case Action::newEvent:
        return Strings::newEventNamePlaceholder(DocumentType::event().shortDescription());
    case Action::rename:
        return formatText(Strings::renameItemPlaceholder(), renamedTypeDescription(m_input));
    }
    return {};
}

QString NameInputView::confirmTitle() const
{
    switch (m_input.action) {
    case Action::newTeam:
        return Strings::chooseLocationButtonTitle();
    case Action::newCollection:
        return Strings::createCollectionButtonTitle();
    case Action::newEvent:
        return Strings::newEventCreateButton(DocumentType::event().shortDescription());
    case Action::newLibrary:
    case Action::rename:
        return title();
    }
    return {};
}

QString NameInputView::name() const
{
    return m_field->text();
}

bool NameInputView::canConfirm() const
{
    const QString current = name();
    if (current.isEmpty() || !m_isValidInput)
        return false;
    return !(m_input.action == Action::rename && m_input.item && current == m_input.item->name());
}

void NameInputView::validate(const QString& name)
{
    m_isValidInput = isValidName(name, m_invalidCharacters);
    refresh();
}

void NameInputView::refresh()
{
    m_confirm->setEnabled(canConfirm());
    m_error->setVisible(!m_isValidInput);
}

} // namespace vantrel
