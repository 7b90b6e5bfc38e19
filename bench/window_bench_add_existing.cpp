// window_bench, the add-existing sheet: opened on an empty collection through the collection's own
// "Add Existing..." action, over a team of 1,000 other documents; keys typed into its filter,
// each timed until the window has nothing left to do.

#include "bench/window_bench_support.h"

#include "model/collection.h"
#include "model/strings.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/team/collection_content_view.h"

#include <QAbstractItemView>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>

#include <algorithm>
#include <stdexcept>

namespace vantrel::bench {

namespace {

constexpr int candidateCount = 1000;
constexpr int rounds = 2;
constexpr double keyTarget = 0.016;
const QString targetName = QStringLiteral("Inbox");

// An empty collection to add to, and another of the documents to choose from, "Clip 0001" on.
QString writeCandidateTeam(const QString& work)
{
    const QString bundle = work + QStringLiteral("/Candidates.vantrelteam");
    const Clients clients(work + QStringLiteral("/writers"), false);
    TeamWriter writer(clients.create(bundle, QStringLiteral("writer1")));
    writer.add(DocumentType::collection(), targetName, std::nullopt);
    const auto pool = writer.add(DocumentType::collection(), QStringLiteral("Pool"), std::nullopt);
    for (int index = 1; index <= candidateCount; ++index)
        writer.add(ordinaryDocumentType(index), QStringLiteral("Clip %1").arg(index, 4, 10, QLatin1Char('0')), pool);
    writer.flush();
    return bundle;
}

// The "Add Existing..." item of the menus of the selected collection's buttons.
QAction* addExistingAction(const Shell& shell)
{
    CollectionContentView* content = contentOf(shell);
    QWidget* buttons = content ? content->header()->buttonGroup() : nullptr;
    if (!buttons)
        throw std::runtime_error("the collection's header has no buttons");
    for (const QMenu* menu : buttons->findChildren<QMenu*>()) {
        for (QAction* action : menu->actions()) {
            if (action->text().startsWith(Strings::addExistingActionTitle()))
                return action;
        }
    }
    throw std::runtime_error("the collection offers no Add Existing action");
}

QDialog* shownDialog(const Shell& shell)
{
    for (QDialog* dialog : shell.window->findChildren<QDialog*>()) {
        if (dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// The list of candidates: the sheet's list by its name, or else its first list.
QAbstractItemView* candidateList(const QDialog* dialog)
{
    if (!dialog)
        return nullptr;
    auto* list = dialog->findChild<QAbstractItemView*>(QStringLiteral("candidates"));
    return list ? list : dialog->findChild<QAbstractItemView*>();
}

int listedRows(const QAbstractItemView* list)
{
    return list && list->isVisible() && list->model() ? list->model()->rowCount() : 0;
}

struct Key {
    int key;
    QString text;
};

// Narrows the list down to one candidate, then back to all of them one key at a time.
std::vector<Key> filterKeys()
{
    std::vector<Key> keys;
    const QString typed = QStringLiteral("clip 999");
    for (const QChar character : typed) {
        const int key = character == u' '     ? int(Qt::Key_Space)
                        : character.isDigit() ? int(Qt::Key_0) + character.digitValue()
                                              : int(Qt::Key_A) + (character.unicode() - u'a');
        keys.push_back({key, QString(character)});
    }
    for (qsizetype index = 0; index < typed.size(); ++index)
        keys.push_back({Qt::Key_Backspace, QString()});
    return keys;
}

} // namespace

void measureAddExisting(const QString& work, Report& report)
{
    note(QStringLiteral("writing a team bundle of %1 documents to add from").arg(candidateCount));
    const QString bundle = writeCandidateTeam(work);
    clearLeftovers();
    Shell shell(bundle, localFolder(work, QStringLiteral("add-existing")));
    showTeam(shell, Clock::now());
    selectCollection(shell, targetName, 0);

    // The sheet, opened as the menu item does, until its candidates have painted.
    QAction* action = addExistingAction(shell);
    std::optional<Clock::time_point> listPainted;
    PaintWatch watch;
    watch.counts = [&](QWidget* widget) {
        QAbstractItemView* list = candidateList(shownDialog(shell));
        if (!listPainted && list && isWithin(widget, list->viewport()) && listedRows(list) > 0)
            listPainted = Clock::now();
    };
    const auto openStart = Clock::now();
    action->trigger();
    runUntil([&] { return listPainted.has_value(); }, 120, "the add-existing sheet's candidates");
    const double opened = std::chrono::duration<double>(*listPainted - openStart).count();
    watch.counts = nullptr;
    settle(1.0);

    QDialog* dialog = shownDialog(shell);
    QAbstractItemView* list = candidateList(dialog);
    auto* filter = dialog->findChild<QLineEdit*>(QStringLiteral("filter"));
    if (!filter)
        filter = dialog->findChild<QLineEdit*>();
    if (!filter)
        throw std::runtime_error("the add-existing sheet has no filter field");
    filter->setFocus(Qt::MouseFocusReason);
    settle(0.5);
    const int allRows = listedRows(list);

    std::vector<double> times;
    int fewest = allRows;
    for (int round = 0; round < rounds; ++round) {
        for (const Key& key : filterKeys()) {
            const auto start = Clock::now();
            typeKey(filter, key.key, key.text);
            times.push_back(std::chrono::duration<double>(waitForIdle() - start).count());
            fewest = std::min(fewest, listedRows(list));
        }
    }
    if (!filter->text().isEmpty() || listedRows(list) != allRows)
        throw std::runtime_error("the filter did not come back to every candidate");
    dialog->reject();
    settle(0.5);

    const auto format = [](double value) { return seconds(value); };
    note(QStringLiteral("add-existing filter keys: %1").arg(runList(times, format)));
    const double typical = median(times);
    report.rows.push_back({QStringLiteral("Key typed into the add-existing filter over 1,000 candidates"),
                           medianAndWorst(times), QStringLiteral("≤ 16 ms"), verdict(typical <= keyTarget)});
    report.rows.push_back({QStringLiteral("  Add Existing chosen → its candidates painted"), seconds(opened),
                           QStringLiteral("(shown)"), QStringLiteral("info")});
    report.details << QStringLiteral("add-existing filter keys (\"clip 999\" typed and erased, %1 times; the list held "
                                     "%2 rows, at least %3): %4")
                          .arg(rounds)
                          .arg(allRows)
                          .arg(fewest)
                          .arg(runList(times, format));
}

} // namespace vantrel::bench
