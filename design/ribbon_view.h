#pragma once

#include "design/ribbon.h"

#include <QPointer>
#include <QWidget>

class QPushButton;

namespace vantrel::design {

// The ribbon of the team toolbar: a small rounded message showing the ribbon the prioritizer
// selects, or nothing (the view then takes no space). Clicking it runs the action of the
// ribbon shown at that moment. A view whose prioritizer is gone shows nothing.
class RibbonView : public QWidget {
    Q_OBJECT
public:
    explicit RibbonView(Prioritizer<Ribbon>* prioritizer, QWidget* parent = nullptr);
    ~RibbonView() override;

    // The text shown, empty while no ribbon is shown.
    QString text() const;
    bool isShowingRibbon() const;

private:
    void showSelection();
    void runAction();

    QPointer<Prioritizer<Ribbon>> m_prioritizer;
    QPushButton* m_button;
};

} // namespace vantrel::design
