#include "trim/trim_editor.h"

#include "core/base/catalog.h"
#include "core/base/file_safety.h"
#include "trim/trim_editor_view.h"
#include "trim/trim_session.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// A window that tells when the user closes it.
class EditorWindow : public QWidget {
public:
    std::function<void()> onClose;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (onClose)
            onClose();
        QWidget::closeEvent(event);
    }
};

}

TrimEditor& TrimEditor::shared()
{
    static auto* editor = new TrimEditor;
    return *editor;
}

bool TrimEditor::open(const std::vector<std::filesystem::path>& files) { return shared().openFiles(files); }

bool TrimEditor::openFiles(const std::vector<std::filesystem::path>& files)
{
    const auto options = Catalog::options(files);
    if (!options || (options->kind != MediaKind::video && options->kind != MediaKind::audio))
        return false;
    // The preview and the probes would read a FIFO or a device for ever.
    if (!std::all_of(files.begin(), files.end(), FileSafety::isRegularFile))
        return false;
    close();
    const bool video = options->kind == MediaKind::video;
    session_ = std::make_unique<TrimSession>(files, options->kind);
    auto* window = new EditorWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(files.size() == 1 ? "Aparar" : "Aparar em lote");
    auto* session = session_.get();
    view_ = new TrimEditorView(
        *session,
        [this] {
            close();
        },
        [this, session] {
            session->exportClips();
            close();
        },
        window);
    window->resize(980, video ? 660 : 560);
    window->setMinimumSize(820, 480);
    view_->resize(window->size());
    window->onClose = [this] {
        tearDown(false);
    };
    // The view fills the window at every size.
    window->installEventFilter(this);
    if (auto* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    window_ = window;
    if (!filtering_) {
        qApp->installEventFilter(this);
        filtering_ = true;
    }
    window->setFocusPolicy(Qt::StrongFocus);
    window->show();
    window->raise();
    window->activateWindow();
    window->setFocus();
    return true;
}

void TrimEditor::close() { tearDown(true); }

void TrimEditor::tearDown(bool closeWindow)
{
    if (filtering_) {
        qApp->removeEventFilter(this);
        filtering_ = false;
    }
    if (session_) {
        session_->stop();
        // Queued work may still name it; it goes once the current event is done.
        session_.release()->deleteLater();
    }
    view_ = nullptr;
    if (auto window = window_) {
        window_ = nullptr;
        if (closeWindow) {
            static_cast<EditorWindow*>(window.data())->onClose = nullptr;
            window->close();
        }
    }
}

bool TrimEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_ && event->type() == QEvent::Resize && view_) {
        view_->resize(window_->size());
        return false;
    }
    if (event->type() != QEvent::KeyPress || !session_ || !window_)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window_)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    // A field being edited takes its keys; Return there only commits it.
    if (qobject_cast<QLineEdit*>(QApplication::focusWidget()) && QApplication::focusWidget()->window() == window_)
        return false;
    auto& session = *session_;
    auto mark = [&](bool start) {
        if (auto* clip = session.selected()) {
            start ? clip->setStart(session.playhead()) : clip->setEnd(session.playhead());
            session.announce();
        }
    };
    // By key, not by text: modifiers are not looked at, so Ctrl+S splits too.
    switch (key->key()) {
    case Qt::Key_Up: session.move(-1); return true;
    case Qt::Key_Down: session.move(+1); return true;
    case Qt::Key_Space: session.togglePlay(); return true;
    case Qt::Key_I: mark(true); return true;
    case Qt::Key_O: mark(false); return true;
    case Qt::Key_N: session.addSegmentAtPlayhead(); return true;
    case Qt::Key_S: session.splitAtPlayhead(); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        session.exportClips();
        close();
        return true;
    case Qt::Key_Escape: close(); return true;
    default: return false;
    }
}

namespace {

// Runs `then` once `ready` holds, looking again every 20 ms while `context` lives.
void once(QObject* context, std::function<bool()> ready, std::function<void()> then)
{
    if (ready())
        return then();
    QTimer::singleShot(20, context, [context, ready = std::move(ready), then = std::move(then)]() mutable {
        once(context, std::move(ready), std::move(then));
    });
}

}

void TrimEditor::debugPlayTest(double t, bool multi, std::function<void(const std::string&)> report)
{
    auto* clip = session_ ? session_->selected() : nullptr;
    if (!clip) {
        report("sem sessão");
        return;
    }
    QPointer<TrimClip> guard(clip);
    // Whatever goes away meanwhile ends the scenario with the same answer.
    auto gone = [this, guard] {
        return !guard || !session_;
    };
    once(
        this,
        [gone, guard] {
            return gone() || guard->loaded();
        },
        [this, gone, guard, t, multi, report] {
            if (gone())
                return report("sem sessão");
            if (multi) {
                guard->setSegments(
                    {ClipRange{QUuid::createUuid(), 1.0, 2.0}, ClipRange{QUuid::createUuid(), 3.0, 5.0}}, 1);
                session_->seek(t);
            } else {
                session_->seek(t);
                guard->setStart(session_->playhead());
                session_->announce();
            }
            once(
                this,
                [this, gone] {
                    return gone() || session_->pendingSeeks() == 0;
                },
                [this, gone, guard, report] {
                    if (gone())
                        return report("sem sessão");
                    const double before = session_->playhead();
                    session_->togglePlay();
                    // The pipeline may take a while to roll: the 1.5 s count from its first step. A
                    // playhead that never moves is reported too, after 20 s.
                    QElapsedTimer waited;
                    waited.start();
                    once(
                        this,
                        [this, gone, before, waited] {
                            return gone() || !session_->isPlaying() || session_->playhead() > before
                                || waited.hasExpired(20000);
                        },
                        [this, gone, guard, report, before] {
                            if (gone())
                                return report("sem sessão");
                            // 1.5 s of the ranges played, over the gaps between them, tells where
                            // the playhead should stand; the report comes once it gets there or
                            // playing stops, so a loaded machine slows the run, not the figures.
                            double target = before, left = 1.5;
                            for (const auto& range : guard->segments()) {
                                const double from = std::max(target, range.start);
                                if (range.end <= from)
                                    continue;
                                const double step = std::min(left, range.end - from);
                                target = from + step;
                                left -= step;
                                if (left <= 0)
                                    break;
                            }
                            QElapsedTimer played;
                            played.start();
                            once(
                                this,
                                [this, gone, target, played] {
                                    return gone() || !session_->isPlaying() || session_->playhead() >= target
                                        || played.hasExpired(20000);
                                },
                                [this, gone, guard, report, before] {
                                    if (gone())
                                        return report("sem sessão");
                                    char line[256];
                                    std::snprintf(line, sizeof line,
                                        "início=%.2f agulha antes=%.2f depois de 1,5 s=%.2f tocando=%s",
                                        guard->current().start, before, session_->playhead(),
                                        session_->isPlaying() ? "sim" : "não");
                                    report(line);
                                });
                        });
                });
        });
}

void TrimEditor::debugDemoSegments()
{
    auto* clip = session_ ? session_->selected() : nullptr;
    if (!clip || !(clip->duration() > 0))
        return;
    const double d = clip->duration();
    session_->setAdvanced(true);
    clip->setSegments(
        {ClipRange{QUuid::createUuid(), 0.05 * d, 0.30 * d}, ClipRange{QUuid::createUuid(), 0.42 * d, 0.60 * d},
            ClipRange{QUuid::createUuid(), 0.75 * d, 0.95 * d}},
        1);
    session_->seek(0.5 * d);
}
