#pragma once

#include <QWidget>

#include <memory>

class QPlainTextEdit;
class QPushButton;

namespace vantrel {

class Document;
class ItemActions;
class NavigationModel;

// The panel in which the user describes the changes made to a checked-out document, then saves
// them as a new version (Save Changes, Ctrl+Return) or throws them away (Discard, Escape, after a
// confirmation). The editor writes every keystroke into the document's commit message and shows
// whatever the document holds. Save needs a message that is not blank; nothing can be started
// while the document is busy. The editor's keyboard focus and the window's pane focus
// (checkinView) follow each other.
class CheckInView final : public QWidget {
    Q_OBJECT
public:
    CheckInView(std::shared_ptr<Document> document, NavigationModel& navigation, ItemActions& itemActions,
                QWidget* parent = nullptr);
    ~CheckInView() override;

    const std::shared_ptr<Document>& document() const { return m_document; }
    QPlainTextEdit* editor() const { return m_editor; }
    QPushButton* discardButton() const { return m_discard; }
    QPushButton* saveButton() const { return m_save; }

    // The two user actions, as the buttons and their keys run them; each does nothing while it
    // is not available.
    void save();
    void discard();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followMessage();
    void followState();
    void followFocus();
    bool canSave() const;

    std::shared_ptr<Document> m_document;
    NavigationModel& m_navigation;
    ItemActions& m_itemActions;
    QPlainTextEdit* m_editor = nullptr;
    QPushButton* m_discard = nullptr;
    QPushButton* m_save = nullptr;
    // A check-in started here and not yet finished; a second request is left alone.
    bool m_saving = false;
};

} // namespace vantrel
