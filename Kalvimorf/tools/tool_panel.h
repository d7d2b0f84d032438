#pragma once

#include "tools/tool.h"

#include <QDialog>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <vector>

// One options panel's model: the tool, the files and the parameters being edited.
struct ToolSession {
    ToolSession(Tool tool, std::vector<std::filesystem::path> urls);
    Tool tool;
    std::vector<std::filesystem::path> urls;
    ToolParams params;
};

// The small form five tools ask before they run: a heading with the tool and the selection, the
// tool's controls, "Cancelar" and "Aplicar". Return applies (also from the text field), Esc and
// the title bar's close cancel. Stays above other windows; fixed size.
class ToolOptionsView : public QDialog {
    Q_OBJECT
public:
    static constexpr int formWidth = 380;

    explicit ToolOptionsView(ToolSession session, QWidget* parent = nullptr);
    const ToolSession& session() const { return session_; }

private:
    void addControls(class QVBoxLayout* layout);

    ToolSession session_;
};

// Shows one panel at a time; a new one closes the one before without applying it.
class ToolPanelController {
public:
    static ToolPanelController& shared();
    // `apply` runs at most once, on "Aplicar", with the chosen parameters; never on a cancel.
    void show(Tool tool, const std::vector<std::filesystem::path>& urls, std::function<void(const ToolParams&)> apply);
    // The panel shown last while it is open, for tests.
    ToolOptionsView* window() const { return window_; }

private:
    QPointer<ToolOptionsView> window_;
};
