#include "views/presenters/message_boxes.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include <memory>

namespace vantrel {

QMessageBox* makeMessageBox(QWidget* window, const QString& title, const QString& message,
                            const QList<MessageBoxButton>& buttons, std::function<void()> dismissed)
{
    auto* box = new QMessageBox(window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setTextFormat(Qt::PlainText);
    box->setText(title);
    box->setInformativeText(message);
    // The text format of the box covers only its main text; the label of the informative text
    // would otherwise guess whether it is rich text.
    for (QLabel* label : box->findChildren<QLabel*>()) {
        if (label->text() == message)
            label->setTextFormat(Qt::PlainText);
    }
    // By itself the box is only as wide as its title, which leaves a short title's box so narrow
    // that the window's title bar cuts its name short and the message runs in a thin column. A
    // strut in the last row (the buttons') gives it a readable width; a title wider than the box
    // allows wraps. Added last: the box lays itself out anew whenever its texts are set.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(messageBoxMinimumWidth, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount() - 1, 0, 1, grid->columnCount());

    auto actions = std::make_shared<QHash<QAbstractButton*, std::function<void()>>>();
    std::function<void()> cancel;
    int cancelButtons = 0;
    for (const MessageBoxButton& entry : buttons) {
        QPushButton* button = box->addButton(entry.button.title, entry.role);
        actions->insert(button, entry.button.action);
        // Enter presses the default button, or a focused button that may become the default:
        // never one that destroys something, even when it is the box's only button.
        if (entry.button.destroys)
            button->setAutoDefault(false);
        else if (!box->defaultButton())
            box->setDefaultButton(button);
        if (entry.role == QMessageBox::RejectRole) {
            cancel = entry.button.action;
            ++cancelButtons;
        }
    }
    if (buttons.isEmpty())
        box->setStandardButtons(QMessageBox::Ok);
    if (cancelButtons != 1)
        cancel = nullptr;

    QObject::connect(box, &QMessageBox::finished, box, [box, actions, cancel, dismissed = std::move(dismissed)] {
        // The model is cleared before the action runs, so that an action that presents
        // something new is not undone by the dismissal. Closing the box's window finishes it
        // before the box notes its escape button as pressed: that, too, cancels.
        const std::function<void()> action = box->clickedButton() ? actions->value(box->clickedButton()) : cancel;
        if (dismissed)
            dismissed();
        if (action)
            action();
    });
    return box;
}

} // namespace vantrel
