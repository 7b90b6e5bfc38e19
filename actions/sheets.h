#pragma once

#include "actions/presented_flag.h"
#include "foundation/observable_object.h"
#include "model/versioned_item.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace vantrel {

class AddExistingVersionBundle;

// The sheet a window shows over its content. A new sheet replaces one that is still showing.
class SheetModel : public ObservableObject {
    Q_OBJECT
public:
    // Picking existing bundles to add to a container.
    struct AddExisting {
        std::shared_ptr<AddExistingVersionBundle> picker;
    };
    // Naming a new, empty video-editing library; `create` gets the name.
    struct NewFinalCutLibrary {
        std::function<void(QString)> create;
    };
    // Naming a new event of a library.
    struct NewFinalCutEvent {
        std::function<void(QString)> create;
    };
    struct CreateNewCollection {
        std::function<void(QString)> create;
    };
    struct CreateNewTeamBundle {
        std::function<void(QString)> create;
    };
    // Giving `item` a new name.
    struct RenameItem {
        std::shared_ptr<VersionedItem> item;
        std::function<void(QString)> rename;
    };

    using Sheet = std::variant<AddExisting, NewFinalCutLibrary, NewFinalCutEvent, CreateNewCollection,
                               CreateNewTeamBundle, RenameItem>;

    explicit SheetModel(QObject* parent = nullptr);

    std::optional<Sheet> sheet() const { return m_sheet(); }
    void setSheet(std::optional<Sheet> sheet);

Q_SIGNALS:
    void sheetChanged();

private:
    Published<std::optional<Sheet>> m_sheet{this, &SheetModel::sheetChanged};
};

// Whether `model`'s sheet is showing; dismissing it clears the sheet.
PresentedFlag<SheetModel> presentedFlag(SheetModel* model);

// How a sheet that asks for a name is shown.
struct NameInput {
    // What the name is for.
    enum class Action { newLibrary, newEvent, newCollection, newTeam, rename };
    Action action;
    // The item being renamed; null for the other actions.
    std::shared_ptr<VersionedItem> item;
    // Whether the sheet keeps its ideal size instead of following the window.
    bool fixedToIdealSize = true;
};

// The name input `sheet` shows; absent for a sheet that asks for no name.
std::optional<NameInput> nameInput(const SheetModel::Sheet& sheet);

// The characters a name given in `sheet` must not contain; absent when any name will do.
std::optional<QString> forbiddenCharacters(const SheetModel::Sheet& sheet);

// Whether `name` contains none of the `forbidden` characters.
bool isValidName(const QString& name, const std::optional<QString>& forbidden);

} // namespace vantrel
