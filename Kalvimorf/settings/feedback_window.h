#pragma once

#include <QWidget>

class Feedback;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class SegmentedPicker;
class Switch;

// "Relatar um problema": the form over the report's model, which it mirrors both ways. Closing
// only hides it; it keeps what was typed.
class FeedbackWindow : public QWidget {
public:
    static constexpr int formWidth = 460;

    explicit FeedbackWindow(Feedback& model);
    void present();

    QPlainTextEdit* textEdit() const { return text_; }
    QLineEdit* emailField() const { return email_; }
    Switch* diagnosticsSwitch() const { return diagnostics_; }
    QLabel* statusLabel() const { return status_; }
    QPushButton* sendButton() const { return send_; }

private:
    void refresh();

    Feedback& model_;
    SegmentedPicker* kind_;
    QLabel* prompt_;
    QPlainTextEdit* text_;
    QLineEdit* email_;
    Switch* diagnostics_;
    QLabel* status_;
    QPushButton* send_;
    bool placed_ = false;
};
