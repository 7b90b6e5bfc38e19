#include "views/detail/collection_buttons.h"

#include "actions/selected_item_commands.h"
#include "design/menu_button.h"
#include "design/menu_button_styles.h"
#include "model/strings.h"

#include <QHBoxLayout>
#include <QMenu>

namespace vantrel {

CollectionButtons::CollectionButtons(const std::shared_ptr<Collection>& collection, ItemActions* actions,
                                     QWidget* parent)
    : QWidget(parent),
      m_collection(collection),
      m_actions(actions),
      m_addDocumentMenu(new design::MenuButton(Strings::addDocumentActionTitle(), QString(), this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_addDocumentMenu->setObjectName(QStringLiteral("addDocumentMenu"));
    design::PrimaryMenuButtonStyle().apply(*m_addDocumentMenu);

    // Each item leads to a further sheet or file dialog, hence the trailing dots.
    const QString more = QStringLiteral("...");
    auto* items = new QMenu(m_addDocumentMenu);
    items->addAction(Strings::newLibraryActionTitle(DocumentType::library().description()) + more, this, [this] {
        if (const auto collection = m_collection.lock())
            SelectedItemCommands::askNewLibrary(collection, m_actions->newFinalCutLibrary());
    });
    items->addAction(Strings::addExistingActionTitle() + more, this, [this] {
        if (const auto collection = m_collection.lock())
            SelectedItemCommands::addExisting(collection, m_actions->addExistingItem());
    });
    items->addAction(Strings::importActionTitle() + more, this, [this] {
        if (const auto collection = m_collection.lock())
            SelectedItemCommands::importFile(collection, m_actions->importItemFromFile());
    });
    m_addDocumentMenu->setMenu(items);
    row->addWidget(m_addDocumentMenu);
    row->addStretch();
}

} // namespace vantrel
