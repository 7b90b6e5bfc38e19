#include "views/detail/activity_action_buttons.h"

#include "design/icon_provider.h"
#include "design/palette.h"
#include "model/strings.h"
#include "views/detail/detail_look.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QToolButton>

namespace vantrel {

namespace {

QToolButton* plainButton(const QString& symbol, int side, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setIcon(design::IconProvider::icon(symbol, design::neutral(1)));
    button->setIconSize(QSize(side, side));
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 2px; background: transparent; }"
                                         "QToolButton::menu-indicator { image: none; width: 0; }"));
    return button;
}

} // namespace

ActivityActionButtons::ActivityActionButtons(Actions actions, bool revertEnabled, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_revert = plainButton(QStringLiteral("clock.arrow.circlepath"), 16, this);
    m_revert->setObjectName(QStringLiteral("activityRevert"));
    m_revert->setToolTip(Strings::revertButtonTitle());
    m_revert->setEnabled(revertEnabled);
    connect(m_revert, &QToolButton::clicked, this, [revert = actions.revert] {
        if (revert)
            revert();
    });
    layout->addWidget(m_revert);
    if (actions.openCopy || actions.exportVersion) {
        m_share = plainButton(QStringLiteral("square.and.arrow.up"), 18, this);
        m_share->setObjectName(QStringLiteral("activityShare"));
        m_share->setPopupMode(QToolButton::InstantPopup);
        m_menu = new QMenu(m_share);
        QAction* copy = m_menu->addAction(Strings::openTemporaryCopyActionTitle());
        connect(copy, &QAction::triggered, this, [openCopy = actions.openCopy] {
            if (openCopy)
                openCopy();
        });
        QAction* exportAction = m_menu->addAction(Strings::exportEllipsis());
        connect(exportAction, &QAction::triggered, this, [exportVersion = actions.exportVersion] {
            if (exportVersion)
                exportVersion();
        });
        m_share->setMenu(m_menu);
        layout->addWidget(m_share);
    }
}

} // namespace vantrel

namespace vantrel {

int ActivityActionButtons::widthFor(bool withShare, const QFont& base)
{
    return measuredOnce(base.key() + (withShare ? QStringLiteral("/buttons+share") : QStringLiteral("/buttons")), [&] {
        QWidget holder;
        holder.setFont(base);
        Actions actions;
        if (withShare)
            actions.openCopy = [] {};
        return ActivityActionButtons(std::move(actions), true, &holder).sizeHint().width();
    });
}

void ActivityActionButtons::setRevertEnabled(bool enabled)
{
    m_revert->setEnabled(enabled);
}

} // namespace vantrel
