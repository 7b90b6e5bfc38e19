#pragma once

#include <QWidget>

namespace vantrel {

class QorAboutWindow;

// The about window's bottom bar: the website and acknowledgements buttons at the right, on the
// bar colour. The buttons stop working when the model is destroyed.
class AboutWindowFooter final : public QWidget {
    Q_OBJECT
public:
    AboutWindowFooter(const QorAboutWindow& model, QWidget* parent = nullptr);
};

} // namespace vantrel
