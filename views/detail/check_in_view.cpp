#include "views/detail/check_in_view.h"

#include "actions/item_actions.h"
#include "design/button_styles.h"
#include "design/icon_provider.h"
#include "design/palette.h"
#include "foundation/task_starter.h"
#include "model/document.h"
#include "model/strings.h"
#include "open_team/navigation_model.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace vantrel {

namespace {

constexpr int editorMinimumHeight = 60;
constexpr int editorMaximumHeight = 120;
constexpr int visibleLines = 6;

// The editor's fill: a light grey (0.7) at 21 % added onto the panel's colour, as a
// plus-lighter blend does.
QColor editorFill()
{
    const QColor base = design::neutral(6);
    const int lift = qRound(0.7 * 0.21 * 255);
    return QColor(std::min(255, base.red() + lift), std::min(255, base.green() + lift),
                  std::min(255, base.blue() + lift));
}

} // namespace

CheckInView::CheckInView(std::shared_ptr<Document> document, NavigationModel& navigation, ItemActions& itemActions,
                         QWidget* parent)
    : QWidget(parent),
      m_document(std::move(document)),
      m_navigation(navigation),
      m_itemActions(itemActions)
{
    setObjectName(QStringLiteral("checkInView"));

    auto* symbol = new QLabel(this);
    symbol->setPixmap(design::IconProvider::icon(QStringLiteral("bookmark.fill"), palette().color(QPalette::WindowText))
                          .pixmap(16, 16));
    auto* title = new QLabel(Strings::saveYourWorkTitle(), this);
    title->setTextFormat(Qt::PlainText);
    QFont titleFont = title->font();
    titleFont.setPixelSize(15);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(symbol);
    header->addWidget(title);
    header->addStretch(1);

    m_editor = new QPlainTextEdit(this);
    m_editor->setObjectName(QStringLiteral("commitMessageEditor"));
    m_editor->setPlaceholderText(Strings::describeChangesPlaceholder());
    m_editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->setTabChangesFocus(true);
    QFont body = m_editor->font();
    body.setPixelSize(13);
    m_editor->setFont(body);
    QPalette editorPalette = m_editor->palette();
    editorPalette.setColor(QPalette::PlaceholderText, design::neutral(2));
    m_editor->setPalette(editorPalette);
    const QColor fill = editorFill();
    m_editor->setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; border: none; border-radius: 5px;"
                                           " border-bottom: 1px solid rgba(0, 0, 0, 60); padding: 8px 6px; }")
                                .arg(fill.name()));
    const int lines = QFontMetrics(body).lineSpacing() * visibleLines + 2 * 8 + 2;
    m_editor->setMinimumHeight(editorMinimumHeight);
    m_editor->setMaximumHeight(std::clamp(lines, editorMinimumHeight, editorMaximumHeight));
    m_editor->installEventFilter(this);

    m_discard = new QPushButton(Strings::discardButtonTitle(), this);
    m_discard->setObjectName(QStringLiteral("discardButton"));
    design::SecondaryActionButtonStyle(24, std::nullopt, 0.6).apply(*m_discard);
    m_save = new QPushButton(Strings::saveChangesButtonTitle(), this);
    m_save->setObjectName(QStringLiteral("saveButton"));
    design::PrimaryActionButtonStyle(24, std::nullopt, 0.9).apply(*m_save);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_discard);
    buttons->addWidget(m_save);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);
    layout->addLayout(header);
    layout->addWidget(m_editor);
    layout->addLayout(buttons);

    // The keys work while the focus is inside the panel, and so only while it is shown.
    auto* saveKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), this);
    saveKey->setContext(Qt::WidgetWithChildrenShortcut);
    auto* saveEnterKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), this);
    saveEnterKey->setContext(Qt::WidgetWithChildrenShortcut);
    auto* discardKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    discardKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(saveKey, &QShortcut::activated, this, &CheckInView::save);
    connect(saveEnterKey, &QShortcut::activated, this, &CheckInView::save);
    connect(discardKey, &QShortcut::activated, this, &CheckInView::discard);
    connect(m_save, &QPushButton::clicked, this, &CheckInView::save);
    connect(m_discard, &QPushButton::clicked, this, &CheckInView::discard);

    connect(m_editor, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = m_editor->toPlainText();
        if (text != m_document->commitMessage())
            m_document->setCommitMessage(text);
    });
    connect(m_document.get(), &Document::commitMessageChanged, this, &CheckInView::followMessage);
    connect(m_document.get(), &Document::isInitiatingChanged, this, &CheckInView::followState);
    connect(&m_navigation, &NavigationModel::focusChanged, this, &CheckInView::followFocus);
    followMessage();
}

CheckInView::~CheckInView() = default;

bool CheckInView::canSave() const
{
    // A message of only blanks says nothing: it counts as empty.
    return !m_saving && !m_document->isInitiating() && !m_document->commitMessage().trimmed().isEmpty();
}

void CheckInView::save()
{
    if (!canSave())
        return;
    m_saving = true;
    followState();
    const CheckInItemAction action = m_itemActions.checkIn();
    const auto document = m_document;
    const QPointer<CheckInView> self = this;
    auto operation = [action, document]() { return action(document); };
    // A check-in refused because an application still has the working copy open asks whether
    // to go on; that answer runs the check-in again by itself.
    auto onError = handleError([action, document](const Error& error) { action.report(error, document); });
    auto completion = [action, self] {
        action.hideProgress();
        if (self) {
            self->m_saving = false;
            self->followState();
        }
    };
    startTask(std::nullopt, std::move(operation), std::move(onError), std::move(completion));
}

void CheckInView::discard()
{
    if (m_saving || m_document->isInitiating())
        return;
    const DiscardItemChangesAction action = m_itemActions.discardChanges();
    const std::weak_ptr<Document> weak = m_document;
    action.showConfirmation(ConfirmationDialog::ConfirmDiscardChanges{m_document, [action, weak] {
                                                                          if (const auto document = weak.lock())
                                                                              action(document);
                                                                      }});
}

void CheckInView::followMessage()
{
    const QString message = m_document->commitMessage();
    if (m_editor->toPlainText() != message)
        m_editor->setPlainText(message);
    followState();
}

void CheckInView::followState()
{
    const bool busy = m_saving || m_document->isInitiating();
    // Read-only rather than disabled, so that the keyboard focus stays in the panel for a retry.
    m_editor->setReadOnly(busy);
    m_discard->setEnabled(!busy);
    m_save->setEnabled(canSave());
}

void CheckInView::followFocus()
{
    if (m_navigation.focus() == ContentViewFocus::checkinView) {
        if (isVisible() && !m_editor->hasFocus())
            m_editor->setFocus(Qt::OtherFocusReason);
    } else if (m_editor->hasFocus()) {
        m_editor->clearFocus();
    }
}

void CheckInView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    followFocus();
}

bool CheckInView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_editor && event->type() == QEvent::FocusIn
        && m_navigation.focus() != ContentViewFocus::checkinView)
        m_navigation.setFocus(ContentViewFocus::checkinView);
    return QWidget::eventFilter(watched, event);
}

void CheckInView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(design::neutral(6));
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
}

} // namespace vantrel
