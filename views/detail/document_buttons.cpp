#include "views/detail/document_buttons.h"

#include "actions/selected_item_commands.h"
#include "design/button_styles.h"
#include "design/icon_provider.h"
#include "design/menu_button.h"
#include "design/menu_button_styles.h"
#include "design/palette.h"
#include "desktop/desktop_launch.h"
#include "model/strings.h"
#include "model/text_format.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>

namespace vantrel {

namespace {

// Menu items that lead to a further dialog end in "...".
QString asksFurther(const QString& title)
{
    return title + QStringLiteral("...");
}

// A file of a type the table does not know opens in the desktop's application for its kind; the
// help names it, or else the kind, as the desktop names it.
QString otherFileHelp(const Document& document)
{
    if (const auto& installed = document.application().installed; installed && !installed->name.isEmpty())
        return formatText(Strings::opensInHelp(), installed->name);
    const DocumentType& type = document.documentType();
    QString kind = desktop::mimeTypeDescription(type.mimeTypes().value(0));
    if (kind.isEmpty() && type.customDefinition())
        kind = type.description().trimmed();
    if (kind.isEmpty())
        kind = type.preferredExtension().toUpper();
    if (kind.isEmpty())
        kind = desktop::mimeTypeDescription(QStringLiteral("application/octet-stream"));
    return formatText(Strings::noApplicationForKindHelp(), kind);
}

} // namespace

DocumentOpenButtonState openButtonState(const Document& document)
{
    const bool lockedBySomeoneElse = document.isLocked() && !document.lockedByCurrentInitiator();
    const bool blocked = SelectedItemCommands::isCheckOutBlocked(document);

    DocumentOpenButtonState state;
    if (lockedBySomeoneElse)
        state.symbolName = QStringLiteral("lock.fill");
    else if (document.application().isInstalled())
        state.symbolName = QStringLiteral("pencil");
    else
        state.symbolName = QStringLiteral("exclamationmark.triangle");

    if (document.isLocked())
        state.help = formatText(Strings::documentLockedHelp(), document.lockedByUser(), document.lockedByHostName());
    else if (document.documentType().isOtherFile())
        state.help = otherFileHelp(document);
    else if (blocked)
        state.help = formatText(Strings::installToOpenHelp(), document.documentType().appName());

    state.enabled = !blocked && !lockedBySomeoneElse;
    return state;
}

DocumentButtons::DocumentButtons(const std::shared_ptr<Document>& document, ItemActions* actions, AlertModel* alert,
                                 QWidget* parent)
    : QWidget(parent),
      m_document(document),
      m_actions(actions),
      m_alert(alert),
      m_openButton(new QPushButton(this)),
      m_exportMenu(nullptr)
{
    const DocumentType& type = document->documentType();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    m_openButton->setObjectName(QStringLiteral("openDocumentButton"));
    m_openButton->setText(formatText(Strings::openActionTitle(), type.shortDescription()));
    m_openButton->setIconSize(QSize(14, 14));
    design::PrimaryActionButtonStyle(32, std::nullopt, 0.9).apply(*m_openButton);
    connect(m_openButton, &QPushButton::clicked, this, [this] {
        if (const auto document = m_document.lock())
            SelectedItemCommands::checkOut(document, m_actions->checkOut());
    });
    row->addWidget(m_openButton);

    m_exportMenu = new design::MenuButton(formatText(Strings::exportDocumentActionTitle(), type.shortDescription()),
                                          QStringLiteral("square.and.arrow.up"), this);
    m_exportMenu->setObjectName(QStringLiteral("exportDocumentMenu"));
    design::SecondaryMenuButtonStyle().apply(*m_exportMenu);
    auto* exportItems = new QMenu(m_exportMenu);
    exportItems->addAction(Strings::openTemporaryCopyActionTitle(), this, [this] {
        if (const auto document = m_document.lock())
            SelectedItemCommands::openCopy(document, std::nullopt, m_actions->openCopy());
    });
    exportItems->addAction(asksFurther(Strings::exportActionTitle()), this, [this] {
        if (const auto document = m_document.lock())
            SelectedItemCommands::exportItem(document, std::nullopt, m_actions->exportVersion());
    });
    m_exportMenu->setMenu(exportItems);
    row->addWidget(m_exportMenu);

    if (type.allowsNesting()) {
        m_addEventMenu = new design::MenuButton(Strings::addEventActionTitle(), QString(), this);
        m_addEventMenu->setObjectName(QStringLiteral("addEventMenu"));
        design::SecondaryMenuButtonStyle().apply(*m_addEventMenu);
        auto* items = new QMenu(m_addEventMenu);
        // Whether a new event can be made is the engine's answer at the moment the menu opens.
        connect(items, &QMenu::aboutToShow, this, &DocumentButtons::fillAddEventMenu);
        m_addEventMenu->setMenu(items);
        fillAddEventMenu();
        row->addWidget(m_addEventMenu);
    }
    row->addStretch();

    for (const auto signal :
         {&Document::isLockedChanged, &Document::lockedByUserChanged, &Document::lockedByHostNameChanged,
          &Document::isInitiatingChanged, &Document::applicationChanged, &Document::allowsChangesChanged,
          &Document::isCheckedOutChanged})
        connect(document.get(), signal, this, &DocumentButtons::refresh);
    connect(document.get(), &Document::invalidCheckoutStateChanged, this, &DocumentButtons::explainInvalidCheckout);
    refresh();
    // A document whose check-out is already invalid is explained as soon as it is shown.
    explainInvalidCheckout();
}

DocumentButtons::~DocumentButtons() = default;

void DocumentButtons::refresh()
{
    const auto document = m_document.lock();
    if (!document)
        return;
    const DocumentOpenButtonState state = openButtonState(*document);
    m_openButton->setIcon(design::IconProvider::icon(state.symbolName, design::neutral(9)));
    m_openButton->setToolTip(state.help);
    m_openButton->setEnabled(state.enabled);
    if (m_addEventMenu)
        m_addEventMenu->setEnabled(!document->isLocked());
}

void DocumentButtons::fillAddEventMenu()
{
    const auto document = m_document.lock();
    QMenu* items = m_addEventMenu->menu();
    items->clear();
    if (!document)
        return;
    if (document->versioningService()->canCreateFCPEvent()) {
        items->addAction(asksFurther(Strings::newEventActionTitle(DocumentType::event().description())), this, [this] {
            if (const auto document = m_document.lock())
                SelectedItemCommands::askNewEvent(document, m_actions->newFinalCutEvent());
        });
    }
    items->addAction(asksFurther(Strings::addExistingActionTitle()), this, [this] {
        if (const auto document = m_document.lock())
            SelectedItemCommands::addExisting(document, m_actions->addExistingItem());
    });
}

void DocumentButtons::explainInvalidCheckout()
{
    const auto document = m_document.lock();
    if (!document)
        return;
    const std::optional<InvalidCheckoutState> state = document->invalidCheckoutState();
    // What the alert says of the check-out, so that it is taken back once that is no longer so
    // (the check-out turned out to be ours after all) or the user acted on it elsewhere.
    const QString topic = QStringLiteral("invalid-checkout/") + document->id().toString();
    if (!state) {
        if (std::exchange(m_explained, std::nullopt) && m_alert)
            m_alert->withdraw(topic);
        return;
    }
    if (state == m_explained || !m_alert)
        return;
    m_explained = state;

    const QString message = state->isForceUnlocked()
                                ? formatText(Strings::forceUnlockedDocumentExplainer(), state->name())
                                : Strings::untrackedDocumentExplainer();
    const std::weak_ptr<Document> weak = document;
    ButtonAction ok{Strings::okButtonTitle(), [weak] {
                        if (const auto document = weak.lock())
                            document->acknowledgeInvalidCheckout();
                    }};
    // Closing the alert without pressing OK acknowledges it too.
    ok.cancels = true;
    // The working copy that was taken away is kept in the document's attic: the user can go
    // and get their work from there.
    const OpenItemInAtticAction openAttic = m_actions->openInAttic();
    ButtonAction showAttic{Strings::openAtticActionTitle(), [weak, openAttic] {
                               if (const auto document = weak.lock()) {
                                   document->acknowledgeInvalidCheckout();
                                   SelectedItemCommands::openInAttic(document, openAttic);
                               }
                           }};
    AlertDetails details(Strings::untrackedDocumentTitle(), message, {ok, showAttic});
    details.topic = topic;
    m_alert->setDetails(std::move(details));
}

} // namespace vantrel
