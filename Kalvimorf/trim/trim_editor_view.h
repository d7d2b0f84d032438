#pragma once

#include <QWidget>

#include <functional>

class ClipEditor;
class ClipList;
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QPushButton;
class TimeField;
class TrimSession;

// The editor window's whole content: the cut-for-all bar, the clip list beside the selected
// clip's editor, and the footer with the format, fast copy, cancel and export.
class TrimEditorView : public QWidget {
    Q_OBJECT
public:
    TrimEditorView(TrimSession& session, std::function<void()> onCancel, std::function<void()> onExport,
        QWidget* parent = nullptr);
    // Reads the session again; the editor is rebuilt when another clip is selected.
    void refresh();
    // Every part takes the theme and appearance in force and repaints now.
    void recolour();
    // Every change at rest, for stills.
    void settle();
    ClipEditor* clipEditor() const { return editor_; }
    QPushButton* exportButton() const { return export_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    TrimSession& session_;
    std::function<void()> onCancel_;
    std::function<void()> onExport_;
    ClipList* list_;
    QHBoxLayout* main_;
    QWidget* empty_;
    ClipEditor* editor_ = nullptr;
    TimeField* head_;
    TimeField* tail_;
    QComboBox* format_;
    QCheckBox* fast_;
    QPushButton* export_;
};
