#include "shell/main_menu.h"

#include "shell/app_commands.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

namespace MainMenu {

namespace {

QAction* item(QMenu& menu, const QString& title, const std::function<void()>& action, const QKeySequence& keys = {})
{
    auto* entry = menu.addAction(title);
    entry->setShortcut(keys);
    if (action)
        QObject::connect(entry, &QAction::triggered, entry, [action] {
            action();
        });
    else
        entry->setEnabled(false);
    return entry;
}

// Edit commands go to whatever has the keyboard focus, when it knows them (text fields do).
std::function<void()> toFocus(const char* slot)
{
    return [slot] {
        if (auto* focus = QApplication::focusWidget())
            QMetaObject::invokeMethod(focus, slot);
    };
}

// Escape out of one of the bar's menus leaves the keyboard with the bar, which swallows Tab and
// Shift+Tab until a second Escape. From the bar they leave it and move on from where the keyboard
// was, as anywhere else. The bar itself remembers that place only now and then (not when the
// menu's window had the focus as the menu opened), so it is kept here too.
class TabOutOfBar final : public QObject {
public:
    explicit TabOutOfBar(QMenuBar& bar) : QObject(&bar), bar_(bar)
    {
        bar.installEventFilter(this);
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            if (now && now != &bar_ && now->window() == bar_.window())
                last_ = now;
        });
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab) || !bar_.hasFocus())
            return false;
        // The bar's own way out, which unmarks its menu.
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(&bar_, &escape);
        if (bar_.hasFocus()) {
            if (last_)
                last_->setFocus(Qt::OtherFocusReason);
            else
                bar_.clearFocus();
        }
        QWidget* focus = QApplication::focusWidget();
        QKeyEvent again(QEvent::KeyPress, key->key(), key->modifiers());
        QCoreApplication::sendEvent(focus && focus != &bar_ ? focus : bar_.window(), &again);
        return true;
    }

private:
    QMenuBar& bar_;
    QPointer<QWidget> last_;
};

}

void build(QMenuBar& bar, QWidget& window, const Actions& actions)
{
    new TabOutOfBar(bar);
    auto* file = bar.addMenu("Arquivo");
    item(*file, AppCommands::chooseFiles, actions.chooseFiles, QKeySequence("Ctrl+O"));
    QWidget* target = &window;
    item(
        *file, "Fechar janela",
        [target] {
            target->close();
        },
        QKeySequence("Ctrl+W"));
    file->addSeparator();
    item(*file, "Sair", actions.quit, QKeySequence("Ctrl+Q"));

    auto* edit = bar.addMenu("Editar");
    item(*edit, "Desfazer", toFocus("undo"), QKeySequence("Ctrl+Z"));
    item(*edit, "Refazer", toFocus("redo"), QKeySequence("Ctrl+Shift+Z"));
    edit->addSeparator();
    item(*edit, "Recortar", toFocus("cut"), QKeySequence("Ctrl+X"));
    item(*edit, "Copiar", toFocus("copy"), QKeySequence("Ctrl+C"));
    item(*edit, "Colar", toFocus("paste"), QKeySequence("Ctrl+V"));
    item(*edit, "Selecionar tudo", toFocus("selectAll"), QKeySequence("Ctrl+A"));
    edit->addSeparator();
    item(*edit, AppCommands::settings, actions.showSettings, QKeySequence("Ctrl+,"));

    auto* help = bar.addMenu("Ajuda");
    item(*help, AppCommands::reportProblem, actions.reportProblem);
    item(*help, AppCommands::checkForUpdates, actions.checkForUpdates);
    help->addSeparator();
    item(*help, "Sobre o Brivlon", actions.showAbout);
}

}
