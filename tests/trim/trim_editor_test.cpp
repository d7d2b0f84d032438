#include "support/contrast.h"
#include "support/fakes.h"
#include "support/test_support.h"
#include "trim/clip_editor.h"
#include "trim/clip_list.h"
#include "trim/fake_preview_player.h"
#include "trim/segments_bar.h"
#include "trim/timeline_bar.h"
#include "trim/trim_editor.h"
#include "trim/trim_editor_view.h"
#include "trim/trim_look.h"
#include "trim/trim_session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace TestSupport;

// The editor's widgets need the widgets' application.
const bool widgets = TestSupport::wantWidgets();

namespace {

using Spans = std::vector<std::pair<double, double>>;

std::vector<ClipRange> ranges(const Spans& list)
{
    std::vector<ClipRange> made;
    for (const auto& [start, end] : list)
        made.push_back({QUuid::createUuid(), start, end});
    return made;
}

QPushButton* button(QWidget* root, const QString& text)
{
    for (auto* candidate : root->findChildren<QPushButton*>())
        if (candidate->text() == text || candidate->objectName() == text)
            return candidate;
    return nullptr;
}

class TrimEditorTest : public ::testing::Test {
public:
    ~TrimEditorTest() override
    {
        TrimEditor::shared().close();
        TrimSession::beep() = previousBeep;
    }

    // Opens the editor and gives every clip a known length once its own load has landed.
    TrimSession& open(const std::vector<fs::path>& files, double duration = 10)
    {
        EXPECT_TRUE(TrimEditor::open(files));
        auto& session = *TrimEditor::shared().session();
        for (auto* clip : session.clips()) {
            EXPECT_TRUE(QTest::qWaitFor([clip] {
                return clip->loaded();
            }));
            clip->applyProbe(duration, true);
        }
        QCoreApplication::processEvents();
        return session;
    }

    QWidget& window() { return *TrimEditor::shared().window(); }

    void key(int which, Qt::KeyboardModifiers modifiers = {})
    {
        auto* target = QApplication::focusWidget() ? QApplication::focusWidget() : &window();
        QTest::keyClick(target, Qt::Key(which), modifiers);
    }

    // The views' clock: changes move only when the test moves it.
    std::shared_ptr<Fakes::Clock> clock = std::make_shared<Fakes::Clock>();
    Installed<MediaClock::Source> clocked{clock};
    std::shared_ptr<FakePlayers> players = std::make_shared<FakePlayers>();
    Installed<PreviewPlayers> installed{players};
    int beeps = 0;
    std::function<void()> previousBeep = std::exchange(TrimSession::beep(), [this] {
        ++beeps;
    });
    TempDir folder;
    // The editor takes regular files only; the fake players never read them.
    bool made = [this] {
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "a.mp4", "b.mp4", "c.mp4", "a.pdf", "a.png"})
            writeFile(folder / name, "x");
        return true;
    }();
};

}

TEST_F(TrimEditorTest, OpensOnlyOnVideoOrAudioAndReplacesItself)
{
    for (const auto& files : std::vector<std::vector<fs::path>>{
             {folder / "a.png"}, {folder / "a.mp4", folder / "b.mp3"}, {folder / "a.pdf"}, {}})
        EXPECT_FALSE(TrimEditor::open(files));
    EXPECT_EQ(TrimEditor::shared().window(), nullptr);

    open({folder / "a.mp4"});
    EXPECT_EQ(window().windowTitle(), "Aparar");
    EXPECT_EQ(window().size(), QSize(980, 660));
    EXPECT_EQ(window().minimumSize(), QSize(820, 480));
    EXPECT_EQ(button(&window(), "Exportar")->isVisible(), true);
    QPointer<QWidget> first = &window();
    QPointer<TrimSession> firstSession = TrimEditor::shared().session();

    EXPECT_FALSE(TrimEditor::open({folder / "a.png"}));
    EXPECT_EQ(&window(), first.data()) << "unsuitable files leave the editor as it was";

    players->log->clear();
    EXPECT_TRUE(TrimEditor::open({folder / "a.mp3", folder / "b.mp3", folder / "c.mp3"}));
    EXPECT_EQ(*players->log, (std::vector<std::string>{"source ", "source a.mp3"}))
        << "the old session's player is emptied before the new one loads";
    EXPECT_EQ(window().windowTitle(), "Aparar em lote");
    EXPECT_EQ(window().size(), QSize(980, 560));
    EXPECT_NE(button(&window(), "Exportar 3 arquivos"), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return !first && !firstSession;
    }));
}

TEST_F(TrimEditorTest, KeysReachTheSessionOutsideTheTimeFields)
{
    auto& session = open({folder / "a.mp4", folder / "b.mp4"});
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    auto& fake = *players->last;
    auto* a = session.clips()[0];

    session.seek(2);
    key(Qt::Key_I, Qt::ShiftModifier);
    EXPECT_EQ(a->start(), 2);
    session.seek(8);
    key(Qt::Key_O);
    EXPECT_EQ(a->end(), 8);
    session.seek(5);
    key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(a->segments().size(), 2u) << "Ctrl+S splits";
    key(Qt::Key_Space);
    EXPECT_TRUE(session.isPlaying() && fake.playing);
    key(Qt::Key_Down);
    EXPECT_EQ(session.selected(), session.clips()[1]);
    key(Qt::Key_Down);
    EXPECT_EQ(session.selected(), session.clips()[1]);
    key(Qt::Key_Up);
    EXPECT_EQ(session.selected(), a);

    // In a time field the keys type; Return commits the field and exports nothing.
    a->setSegments(ranges({{2, 8}}), 0);
    QCoreApplication::processEvents();
    auto* start = window().findChild<QLineEdit*>("Início");
    ASSERT_NE(start, nullptr);
    start->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([start] {
        return start->hasFocus();
    }));
    start->selectAll();
    QTest::keyClicks(start, "1 s");
    EXPECT_EQ(a->segments().size(), 1u);
    EXPECT_EQ(start->text(), "1 s");
    start->selectAll();
    QTest::keyClicks(start, "1,5");
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_EQ(a->start(), 1.5);
    EXPECT_NE(TrimEditor::shared().session(), nullptr) << "Return in a field does not export";
    start->selectAll();
    QTest::keyClicks(start, "abc");
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_EQ(start->text(), "0:01.50") << "what does not parse shows the value again";
    // Escape drops an edit: the value stays, the field shows it again and lets the keys go.
    start->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([start] {
        return start->hasFocus();
    }));
    start->selectAll();
    QTest::keyClicks(start, "4");
    QTest::keyClick(start, Qt::Key_Escape);
    EXPECT_EQ(a->start(), 1.5);
    EXPECT_EQ(start->text(), "0:01.50");
    EXPECT_FALSE(start->hasFocus());
    session.seek(3);
    key(Qt::Key_I);
    EXPECT_EQ(a->start(), 3) << "the keys reach the session again";

    // Closed by its button: stopped, and the keys no longer reach anything.
    const auto before = players->log->size();
    window().close();
    EXPECT_EQ(TrimEditor::shared().session(), nullptr);
    EXPECT_EQ(players->log->at(before), "source ");
    QWidget other;
    other.show();
    QTest::keyClick(&other, Qt::Key_Space);
    QTest::keyClick(&other, Qt::Key_S);
    EXPECT_EQ(players->log->size(), before + 1);
}

TEST_F(TrimEditorTest, FooterRowsAndSeveralCuts)
{
    auto& session = open({folder / "a.mp4", folder / "b.mp4", folder / "c.mp4"});
    auto* view = TrimEditor::shared().view();
    auto* fast = window().findChild<QCheckBox*>();
    auto* format = window().findChild<QComboBox*>();
    fast->click();
    EXPECT_TRUE(session.fastCopy);
    format->setCurrentIndex(1);
    EXPECT_EQ(session.outputExt, "mp4");
    EXPECT_FALSE(fast->isEnabled());
    EXPECT_TRUE(fast->isChecked() && session.fastCopy) << "disabling keeps the tick";
    format->setCurrentIndex(0);
    EXPECT_TRUE(fast->isEnabled());

    auto* a = session.clips()[0];
    a->setSegments(ranges({{1, 5.5}}), 0);
    EXPECT_EQ(ClipRows::status(*a), "0:01.00 \u2013 0:05.50");
    a->setSegments(ranges({{0, 4}, {5, 9}, {9.5, 9.8}}), 0);
    EXPECT_EQ(ClipRows::status(*a), "3 trechos · 0:08.30");
    TrimClip loading("/tmp/x.mp4", true);
    EXPECT_EQ(ClipRows::status(loading), "carregando…");

    a->setSegments(ranges({{0, 10}}), 0);
    clock->seconds += TrimMotion::settled();
    view->clipEditor()->refresh();
    auto* several = button(view, "Vários cortes");
    ASSERT_NE(several, nullptr);
    EXPECT_TRUE(several->isVisibleTo(view));
    several->click();
    EXPECT_TRUE(session.advanced());
    clock->seconds += TrimMotion::settled();
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return !several->isVisibleTo(view);
    })) << "gone once its fade is over";
    button(view, "Zerar")->click();
    clock->seconds += TrimMotion::settled();
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return several->isVisibleTo(view);
    }));
}

TEST_F(TrimEditorTest, SegmentsBarBeepsAndChips)
{
    auto& session = open({folder / "a.mp4"});
    auto* view = TrimEditor::shared().view();
    auto* clip = session.selected();
    button(view, "Trecho")->click();
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(clip->segments().size(), 1u);
    EXPECT_TRUE(session.advanced());
    session.seek(0.03);
    button(view, "Dividir no cursor")->click();
    EXPECT_EQ(beeps, 2) << "too close to the start";
    session.seek(4);
    button(view, "Dividir no cursor")->click();
    EXPECT_EQ(clip->segments().size(), 2u);
    EXPECT_EQ(clip->active(), 1);
    EXPECT_EQ(session.playhead(), 4.5);

    // A click on the first chip makes it active and seeks to its start, also while playing.
    session.togglePlay();
    auto* bar = view->findChild<SegmentsBar*>();
    auto* chips = bar->strip();
    const auto rects = Chips::layout(clip->segments());
    QTest::mouseClick(chips, Qt::LeftButton, {}, rects[0].center().toPoint());
    EXPECT_EQ(clip->active(), 0);
    EXPECT_EQ(session.playhead(), 0);

    button(view, "Corte simples")->click();
    EXPECT_EQ(clip->segments().size(), 1u);
    EXPECT_FALSE(session.advanced());
}

TEST_F(TrimEditorTest, TimelinePressesAndHandles)
{
    auto& session = open({folder / "a.mp4"});
    auto* clip = session.selected();
    auto* bar = window().findChild<TimelineBar*>();
    ASSERT_NE(bar, nullptr);
    const auto strip = Timeline::strip(bar->size());
    auto xAt = [&](double t) {
        return int(std::lround(strip.left() + t / 10 * strip.width()));
    };
    const int y = int(strip.center().y());

    // A press seeks at once; a drag past the ends holds at 0 and the duration.
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(xAt(3.5), y));
    EXPECT_NEAR(session.playhead(), 3.5, 0.05);
    QTest::mouseMove(bar, QPoint(bar->width() + 40, y));
    EXPECT_EQ(session.playhead(), 10);
    QTest::mouseMove(bar, QPoint(-40, y));
    EXPECT_EQ(session.playhead(), 0);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(-40, y));

    // The start handle stops 0.05 s before the end; the end handle of the first range stops at
    // the second's start. A press 5 px beside a handle still takes it.
    clip->setSegments(ranges({{1, 4}, {6, 9}}), 0);
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(xAt(1) - 12, y));
    QTest::mouseMove(bar, QPoint(xAt(5), y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(xAt(5), y));
    EXPECT_NEAR(clip->start(), 3.95, 1e-9);
    EXPECT_NEAR(session.playhead(), 3.95, 1e-9);
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(xAt(4), y));
    QTest::mouseMove(bar, QPoint(xAt(8), y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(xAt(8), y));
    EXPECT_EQ(clip->end(), 6);
    // A press in a gap seeks and keeps the active range; in another range it picks that one.
    clip->setSegments(ranges({{1, 4}, {6, 9}}), 0);
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(xAt(5), y));
    EXPECT_EQ(clip->active(), 0);
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(xAt(7.5), y));
    EXPECT_EQ(clip->active(), 1);

    // Handles so close that their reach overlaps: the end handle, which lies above, wins.
    const auto state = TimelineState::of(*clip, 0);
    auto shortRange = state;
    shortRange.segments = ranges({{5, 5.05}});
    shortRange.active = 0;
    const double mid = strip.left() + 5.025 / 10 * strip.width();
    EXPECT_EQ(Timeline::hit(shortRange, bar->size(), QPointF(mid, y)), Timeline::Hit::endHandle);
    EXPECT_EQ(Timeline::hit(shortRange, bar->size(), QPointF(mid - 12, y)), Timeline::Hit::startHandle);
    EXPECT_EQ(Timeline::hit(shortRange, bar->size(), QPointF(mid, strip.top() - 5)), Timeline::Hit::endHandle);
    EXPECT_EQ(Timeline::hit(shortRange, bar->size(), QPointF(mid - 60, strip.top() - 5)), Timeline::Hit::none);
}

TEST(ClipRowsMotion, SelectionEasesOutAndScissorsSpring)
{
    EXPECT_EQ(ClipRows::selectionAt(0, true), 0);
    EXPECT_NEAR(ClipRows::selectionAt(0.09, true), 0.75, 1e-9);
    EXPECT_EQ(ClipRows::selectionAt(0.5, true), 1);
    EXPECT_EQ(ClipRows::selectionAt(0.5, false), 0);
    EXPECT_NEAR(ClipRows::scissorsAt(0, true), 0, 1e-9);
    EXPECT_EQ(ClipRows::scissorsAt(5, false), 0);
    // Past its size once, then settled.
    double highest = 0;
    for (double t = 0; t < 1; t += 0.01)
        highest = std::max(highest, ClipRows::scissorsAt(t, true));
    EXPECT_GT(highest, 1.01);
    EXPECT_LT(highest, 1.1);
    EXPECT_NEAR(ClipRows::scissorsAt(0.9, true), 1, 0.01);
}

TEST_F(TrimEditorTest, RangesBarOpensUnderTheTimelineAsSeveralCutsNarrowsAway)
{
    auto& session = open({folder / "a.mp4"});
    auto* view = TrimEditor::shared().view();
    auto* editor = view->clipEditor();
    auto* bar = view->findChild<SegmentsBar*>();
    auto* room = bar->parentWidget();
    auto* several = button(view, "Vários cortes");
    auto* timeline = view->findChild<TimelineBar*>();
    const double full = bar->sizeHint().height() + 12;
    struct Still {
        bool roomShown;
        int roomHeight;
        int severalWidth;
        int timelineTop;
        QImage picture;
    };
    const double began = clock->seconds;
    // The editor as it stands `at` seconds after the change, laid out and drawn.
    auto still = [&](double at) {
        clock->seconds = began + at;
        editor->refresh();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        return Still{room->isVisibleTo(view), room->height(),
            several->parentWidget()->isVisibleTo(view) ? several->parentWidget()->width() : 0, timeline->y(),
            editor->grab().toImage()};
    };
    const auto closed = still(0);
    EXPECT_FALSE(closed.roomShown);
    EXPECT_GT(closed.severalWidth, 0);

    several->click();
    const auto start = still(0), middle = still(0.08), end = still(TrimMotion::settled());
    EXPECT_FALSE(start.roomShown);
    EXPECT_EQ(start.timelineTop, closed.timelineTop);
    EXPECT_GT(middle.roomHeight, 0);
    EXPECT_LT(middle.roomHeight, full);
    EXPECT_LT(middle.severalWidth, closed.severalWidth);
    EXPECT_LT(middle.timelineTop, closed.timelineTop) << "the preview gives up room as the bar comes";
    EXPECT_EQ(end.roomHeight, int(full));
    EXPECT_EQ(end.severalWidth, 0);
    EXPECT_EQ(end.timelineTop, closed.timelineTop - int(full));
    EXPECT_EQ(room->graphicsEffect(), nullptr) << "at rest nothing stands between the bar and the screen";
    EXPECT_NE(start.picture, middle.picture);
    EXPECT_NE(middle.picture, end.picture);

    // "Corte simples" sends it back the same way.
    button(view, "Corte simples")->click();
    EXPECT_FALSE(session.advanced());
    const double back = clock->seconds;
    const auto leaving = still(back - began + 0.08), gone = still(back - began + TrimMotion::settled());
    EXPECT_GT(leaving.roomHeight, 0);
    EXPECT_LT(leaving.roomHeight, full);
    EXPECT_FALSE(gone.roomShown);
    EXPECT_EQ(gone.severalWidth, closed.severalWidth);
    EXPECT_EQ(gone.timelineTop, closed.timelineTop);

    // A render takes its still at rest, whenever the last change began.
    several->click();
    view->settle();
    EXPECT_EQ(room->height(), int(full));
    EXPECT_EQ(room->graphicsEffect(), nullptr);
    EXPECT_EQ(view->clipEditor()->grab().toImage(), end.picture);
}

TEST_F(TrimEditorTest, ScissorsOfATrimmedRowGrowInAndShrinkAway)
{
    auto& session = open({folder / "a.mp4"});
    auto* clip = session.selected();
    auto* list = window().findChild<ClipList*>();
    // The end of the first row, where the scissors stand.
    auto scissors = [&](double at) {
        clock->seconds = at;
        return list->grab(QRect(list->width() - 40, 8, 32, int(ClipRows::height))).toImage();
    };
    const double began = clock->seconds;
    const auto plain = scissors(began);
    clip->setSegments(ranges({{1, 10}}), 0);
    const double trimmed = began + TrimMotion::settled();
    EXPECT_EQ(scissors(began), plain) << "they grow from nothing";
    EXPECT_NE(scissors(began + 0.05), plain);
    const auto shown = scissors(trimmed);
    EXPECT_NE(shown, plain);

    clip->setSegments(ranges({{0, 10}}), 0);
    EXPECT_EQ(scissors(trimmed), shown) << "a row back to its whole length still shows them as they start to go";
    const auto going = scissors(trimmed + 0.05);
    EXPECT_NE(going, shown);
    EXPECT_NE(going, plain);
    EXPECT_EQ(scissors(trimmed + TrimMotion::settled()), plain);
}

TEST_F(TrimEditorTest, ANewThemeOrAppearanceShowsWithoutAnyOtherEvent)
{
    struct Look final : TrimLook {
        QColor colour{255, 0, 0};
        QColor accent() override { return colour; }
    };
    auto look = std::make_shared<Look>();
    Installed<TrimLook> looked{look};
    auto& session = open({folder / "a.mp4", folder / "b.mp4"});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    auto* list = window().findChild<ClipList*>();
    // What the screen shows, not what a fresh paint would: the selected row's background.
    const QPoint inRow = list->mapTo(&window(), QPoint(list->width() - 12, 12));
    auto onScreen = [&] {
        return window().screen()->grabWindow(window().winId()).toImage().pixelColor(inRow);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const auto seen = onScreen();
        return seen.red() > seen.green() + 20;
    })) << "the first paint shows the red accent";

    {
        // Whatever the session still announces (a still frame, a load) would repaint the rows too.
        const QSignalBlocker quiet(session);
        look->colour = QColor(0, 160, 0);
        Q_EMIT TrimLookChanges::shared().changed();
        EXPECT_TRUE(QTest::qWaitFor([&] {
            const auto seen = onScreen();
            return seen.green() > seen.red() + 20;
        })) << "the row is repainted in the new accent";
    }

    // A dark appearance reaches the parts whose text colour was set once.
    auto* hint = [&]() -> QLabel* {
        for (auto* label : window().findChildren<QLabel*>())
            if (label->text() == "início")
                return label;
        return nullptr;
    }();
    ASSERT_NE(hint, nullptr);
    EXPECT_LT(hint->palette().color(QPalette::WindowText).lightnessF(), 0.5);
    const auto before = QApplication::palette();
    QPalette dark(QColor(40, 40, 40));
    QApplication::setPalette(dark);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return hint->palette().color(QPalette::WindowText).lightnessF() > 0.5;
    }));
    QApplication::setPalette(before);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return hint->palette().color(QPalette::WindowText).lightnessF() < 0.5;
    }));
}

// Every label of the editor against its background, on a light desktop and on a dark one; the
// editor was opened on the light one, as a desktop may switch under an open window.
TEST_F(TrimEditorTest, LabelsStayReadableOnLightAndDarkDesktops)
{
    open({folder / "a.mp4", folder / "b.mp4"});
    const auto before = QApplication::palette();
    for (const QPalette& desktop : {before, QPalette(QColor(40, 40, 40)), before}) {
        QApplication::setPalette(desktop);
        QCoreApplication::processEvents();
        const bool dark = desktop.color(QPalette::Window).lightnessF() < 0.5;
        EXPECT_GT(expectReadableLabels(window(), dark ? "trim editor, dark" : "trim editor, light"), 3);
    }
}

// At the editor's default size every control shows whole, in the simple row and with the ranges
// bar, with one, three and eight ranges; the chips on screen are whole, the active one among them,
// and the wheel brings the others.
TEST_F(TrimEditorTest, EveryControlAndChipIsWholeAtTheDefaultSize)
{
    auto& session = open({folder / "a.mp4"}, 120);
    auto* view = TrimEditor::shared().view();
    auto* clip = session.selected();
    ASSERT_EQ(window().size(), QSize(980, 660));
    auto* bar = view->findChild<SegmentsBar*>();
    for (const int count : {1, 3, 8})
        for (const bool advanced : {false, true}) {
            SCOPED_TRACE(std::to_string(count) + (advanced ? " ranges, several cuts" : " ranges, simple"));
            Spans spans;
            for (int i = 0; i < count; ++i)
                spans.emplace_back(i * 12 + 0.5, i * 12 + 10.25);
            clip->setSegments(ranges(spans), count - 1);
            session.setAdvanced(advanced);
            view->settle();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            EXPECT_EQ(clippedControls(window()), std::vector<std::string>{});
            const bool barShown = advanced || count > 1;
            EXPECT_EQ(bar->isVisibleTo(view), barShown);
            EXPECT_EQ(button(view, "Vários cortes")->isVisibleTo(view), !barShown);
            if (!barShown)
                continue;
            const auto rests = Chips::layout(clip->segments());
            const auto shown = bar->shownChips();
            ASSERT_FALSE(shown.empty());
            EXPECT_TRUE(std::find(shown.begin(), shown.end(), count - 1) != shown.end()) << "the active chip shows";
            const double offset = rests[size_t(shown.front())].left();
            for (int i : shown)
                EXPECT_LE(rests[size_t(i)].right() - offset, bar->strip()->width() + 0.5);
            EXPECT_GE(shown.size(), size_t(std::min(count, 2))) << "two chips side by side at least";
            if (count == 8) {
                EXPECT_LT(shown.size(), 8u);
                // Back to the start a notch at a time, then a click there picks the first range.
                for (int i = 0; i < 8; ++i) {
                    QWheelEvent notch(QPointF(5, 5), bar->strip()->mapToGlobal(QPointF(5, 5)), {}, QPoint(0, 120),
                        Qt::NoButton, {}, Qt::NoScrollPhase, false);
                    QCoreApplication::sendEvent(bar->strip(), &notch);
                }
                EXPECT_EQ(bar->shownChips().front(), 0);
                QTest::mouseClick(bar->strip(), Qt::LeftButton, {}, rests[0].center().toPoint());
                EXPECT_EQ(clip->active(), 0);
                EXPECT_EQ(session.playhead(), 0.5);
            }
        }

    // "Vários cortes" shows its name at the editor's own size, also with a clip of most of an hour;
    // where the row has no room for it, the name goes to its tooltip.
    clip->setSegments(ranges({{0.5, 10.25}}), 0);
    session.setAdvanced(false);
    view->settle();
    auto* several = button(view, "Vários cortes");
    auto settled = [] {
        // The new width lays the row out, and a renamed button lays it out once more.
        for (int i = 0; i < 2; ++i)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    };
    settled();
    EXPECT_EQ(several->text(), "Vários cortes");
    EXPECT_FALSE(several->toolTip().startsWith("Vários cortes")) << several->toolTip().toStdString();
    clip->applyProbe(3599, true);
    clip->setSegments(ranges({{0, 3599}}), 0);
    session.announce();
    settled();
    EXPECT_EQ(several->text(), "Vários cortes") << "Duração final 59:59.00";
    EXPECT_EQ(clippedControls(window()), std::vector<std::string>{});
    // Just wide enough for the name, then a pixel short of it.
    window().resize(1200, 660);
    settled();
    auto* editor = view->clipEditor();
    auto* row = editor->layout()->itemAt(editor->layout()->count() - 1);
    const int spare = editor->width() - 28 - row->sizeHint().width();
    window().resize(window().width() - spare - 1, 660);
    settled();
    EXPECT_TRUE(several->text().isEmpty());
    EXPECT_TRUE(several->toolTip().startsWith("Vários cortes")) << several->toolTip().toStdString();
    EXPECT_EQ(clippedControls(*editor), std::vector<std::string>{});
    window().resize(window().width() + 1, 660);
    settled();
    ASSERT_EQ(several->text(), "Vários cortes");
    // Not by a resize alone: a duration in hours asks more of the row.
    clip->applyProbe(4 * 3600, true);
    clip->setSegments(ranges({{0.5, 3 * 3600 + 1800.25}}), 0);
    session.announce();
    settled();
    EXPECT_TRUE(several->text().isEmpty());
    EXPECT_EQ(clippedControls(window()), std::vector<std::string>{});
    // The times of such a clip show whole in their fields.
    for (auto* field : {editor->findChild<QLineEdit*>("Início"), editor->findChild<QLineEdit*>("Fim")}) {
        ASSERT_TRUE(field);
        EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()), field->contentsRect().width() - 4)
            << field->text().toStdString();
    }
}

TEST(ChipScrolling, KeepsTheActiveChipWholeAndLeavesNoRoomAtTheEnd)
{
    // Five chips 100 wide, 6 apart: lefts 0, 106, 212, 318, 424.
    std::vector<QRectF> rests;
    for (int i = 0; i < 5; ++i)
        rests.emplace_back(i * 106, 0, 100, 20);
    EXPECT_EQ(Chips::scrolled(rests, 0, 0, 250), 0);
    EXPECT_EQ(Chips::scrolled(rests, 3, 0, 250), 212) << "forward just far enough";
    EXPECT_EQ(Chips::scrolled(rests, 1, 212, 250), 106) << "back just far enough";
    EXPECT_EQ(Chips::scrolled(rests, 4, 424, 250), 318) << "the last chip does not stand alone";
    EXPECT_EQ(Chips::scrolled(rests, 2, 318, 1000), 0) << "all fit";
    EXPECT_EQ(Chips::scrolled(rests, 4, 0, 90), 424) << "narrower than a chip: the active one leads";
    EXPECT_EQ(Chips::shown(rests, 106, 250), (std::vector<int>{1, 2}));
    EXPECT_EQ(Chips::shown(rests, 0, 99), (std::vector<int>{}));
    EXPECT_EQ(Chips::scrolled({}, 0, 50, 100), 0);
}

