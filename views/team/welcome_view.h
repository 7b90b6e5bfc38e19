#pragma once

#include "actions/item_actions.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace vantrel {

// What the team window shows while no collection is open: a waving hand, "Welcome back!", the
// next step, and a button that creates a collection (it asks for the name first). It changes no
// selection of its own.
class WelcomeView final : public QWidget {
    Q_OBJECT
public:
    // `actions` must outlive the view.
    explicit WelcomeView(ItemActions* actions, QWidget* parent = nullptr);

    QLabel* iconLabel() const { return m_icon; }
    QLabel* titleLabel() const { return m_title; }
    QLabel* messageLabel() const { return m_message; }
    QPushButton* createButton() const { return m_create; }

private:
    ItemActions* m_actions;
    QLabel* m_icon;
    QLabel* m_title;
    QLabel* m_message;
    QPushButton* m_create;
};

} // namespace vantrel
