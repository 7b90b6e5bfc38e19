#include "packages/about_window/about_window_footer.h"

#include "design/palette.h"
#include "packages/about_window/about_window_model.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace vantrel {

AboutWindowFooter::AboutWindowFooter(const QorAboutWindow& model, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("aboutFooter"));
    // The bar's colour is the design system's style 8.
    setAutoFillBackground(true);
    QPalette bar = palette();
    bar.setColor(QPalette::Window, design::style(8));
    setPalette(bar);

    const QorAboutWindow* links = &model;
    auto* website = new QPushButton(model.websiteButtonTitle(), this);
    website->setObjectName(QStringLiteral("websiteButton"));
    connect(website, &QPushButton::clicked, links, [links] { links->openWebsite(); });

    auto* acknowledgments = new QPushButton(QorAboutWindow::acknowledgmentsButtonTitle(), this);
    acknowledgments->setObjectName(QStringLiteral("acknowledgmentsButton"));
    connect(acknowledgments, &QPushButton::clicked, links, [links] { links->openAcknowledgments(); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    layout->addStretch();
    layout->addWidget(website);
    layout->addWidget(acknowledgments);
}

} // namespace vantrel
