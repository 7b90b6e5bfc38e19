#pragma once

#include <QProxyStyle>

namespace vantrel::design {

// The application's widget style: Fusion, with room beside the label of a plain push button.
// Fusion makes a button only a few pixels wider than its text, so that a label such as
// "Choose Location" all but touches the border; here every button with a text keeps
// `labelPadding` between its label and each side of its frame. Buttons with a style of their own
// (design/button_styles.h) size themselves and are left as they are.
class AppStyle final : public QProxyStyle {
    Q_OBJECT
public:
    static constexpr int labelPadding = 12;

    AppStyle();

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                           const QWidget* widget) const override;
};

} // namespace vantrel::design
