#include "actions/sheets.h"

#include "actions/overloaded.h"

namespace vantrel {

namespace {

// Names that become file names: no folder separator, and a single line.
const QString& itemNameForbiddenCharacters()
{
    static const QString characters = QStringLiteral("/\n");
    return characters;
}

// Characters left out of team bundle names. The quotes among them are the typographic ones
// (U+201D, U+2019), not the ASCII ones.
const QString& teamNameForbiddenCharacters()
{
    static const QString characters = QStringLiteral("~!@#$%^&*()+={}|[]\\\u201D;\u2019<>?,./");
    return characters;
}

} // namespace

SheetModel::SheetModel(QObject* parent) : ObservableObject(parent) {}

void SheetModel::setSheet(std::optional<Sheet> sheet)
{
    m_sheet = std::move(sheet);
}

PresentedFlag<SheetModel> presentedFlag(SheetModel* model)
{
    return PresentedFlag<SheetModel>(
        model, [](const SheetModel& sheets) { return sheets.sheet().has_value(); },
        [](SheetModel& sheets) { sheets.setSheet(std::nullopt); });
}

std::optional<NameInput> nameInput(const SheetModel::Sheet& sheet)
{
    using Action = NameInput::Action;
    return std::visit(Overloaded{
                          [](const SheetModel::AddExisting&) -> std::optional<NameInput> { return std::nullopt; },
                          [](const SheetModel::NewFinalCutLibrary&) -> std::optional<NameInput> {
                              return NameInput{Action::newLibrary, nullptr, true};
                          },
                          [](const SheetModel::NewFinalCutEvent&) -> std::optional<NameInput> {
                              return NameInput{Action::newEvent, nullptr, true};
                          },
                          [](const SheetModel::CreateNewCollection&) -> std::optional<NameInput> {
                              return NameInput{Action::newCollection, nullptr, true};
                          },
                          [](const SheetModel::CreateNewTeamBundle&) -> std::optional<NameInput> {
                              return NameInput{Action::newTeam, nullptr, false};
                          },
                          [](const SheetModel::RenameItem& rename) -> std::optional<NameInput> {
                              return NameInput{Action::rename, rename.item, true};
                          },
                      },
                      sheet);
}

std::optional<QString> forbiddenCharacters(const SheetModel::Sheet& sheet)
{
    return std::visit(
        Overloaded{
            [](const SheetModel::NewFinalCutLibrary&) -> std::optional<QString> {
                return itemNameForbiddenCharacters();
            },
            [](const SheetModel::NewFinalCutEvent&) -> std::optional<QString> { return itemNameForbiddenCharacters(); },
            [](const SheetModel::RenameItem&) -> std::optional<QString> { return itemNameForbiddenCharacters(); },
            [](const SheetModel::CreateNewTeamBundle&) -> std::optional<QString> {
                return teamNameForbiddenCharacters();
            },
            [](const auto&) -> std::optional<QString> { return std::nullopt; },
        },
        sheet);
}

bool isValidName(const QString& name, const std::optional<QString>& forbidden)
{
    if (!forbidden)
        return true;
    for (const QChar character : name) {
        if (forbidden->contains(character))
            return false;
    }
    return true;
}

} // namespace vantrel
