#pragma once

#include <QObject>
#include <QRegion>
#include <Qt>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class QMimeData;
class QWidget;

// Drops from other programs on the X display. While Shift is held, GTK's drag sources (the file
// managers of GNOME, Cinnamon, Xfce and MATE) offer a move and nothing else, and Qt answers a drop
// only with an action the source offered: a window of ours could then refuse the drop, or take it
// as a move, after which the source takes its files away. Nothing here ever moves a dropped
// file, so each offer of a move is read as the offer of a copy as it arrives (XDND lets a target
// answer a copy whatever was asked): the drop is taken, and the source is told it was copied.
namespace DropOffers {
// Once for the process, before the first drop; nothing without an X display. It also sees that a
// drop reaches Qt after a position for its window (drop_offers.cpp tells why).
void takeMovesAsCopies();

// What a window of ours takes from a drag: a copy whenever the source allows it, else a link;
// nothing when it offers neither. Never a move.
std::optional<Qt::DropAction> action(Qt::DropActions possible);

// The local files a drag carries, as a window of ours learns them. A Qt drag source hands its data
// only to a request stamped with the time of the last position it sent, so a read made while
// answering an older position comes back empty when the source has moved on meanwhile (a busy
// machine makes that common). That is no refusal: a widget that refuses the enter gets no further
// moves of that drag, so the enter is taken while the files are unknown, and each position reads
// again until the source hands them over.
class DraggedFiles {
public:
    using Paths = std::vector<std::filesystem::path>;

    // At an enter: forgets the last drag's files and reads this one's. False only when the drag
    // surely carries no file of this machine (no URI list, or one that names none).
    bool enter(const QMimeData* data);
    // At a position: the files, read again while the source has not handed them over (and empty
    // until it has).
    const Paths& at(const QMimeData* data);
    // At the drop: its files, read for the drop's own time, else the ones a position read.
    Paths dropped(const QMimeData* data) const;

private:
    std::optional<Paths> files_;
};

// Where a window takes drops from the moment it is mapped, whatever it has painted yet. Without a
// compositing manager a translucent window takes input only where it has painted (WindowShape), and
// a drag source looks for the window under the pointer only when the pointer moves: a hand that
// reached a card's place before the card had flown there, and stopped, went on pointing at the
// window beneath, which took the drop. An input-only window of ours stands just above the window
// from when it is given its area until the drop, shaped to the area. It is a drop target of its
// own: a thread of ours answers the source in its name at once, and hands the drag on to the
// window, which hears of it as of any drag and takes or refuses the drop (drop_offers.cpp).
class Relay;

class DropArea final : public QObject {
public:
    // Follows `window` (a top-level widget) for its lifetime; nothing without an X display.
    explicit DropArea(QWidget* window);
    ~DropArea() override;

    // In the window's own coordinates; none takes the stand-in away.
    void setArea(const QRegion& area);

    QWidget* window() const { return window_; }

    // Takes the stand-in away until the window is shown, moved or given an area again: once
    // the drop is in, clicks are the window's.
    void withdraw();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Stacks the stand-in just above the window, over the area, and maps it.
    void place();

    QWidget* window_;
    QRegion area_;
    // Given an area and not yet dropped on.
    bool held_ = false;
    std::uint32_t standIn_ = 0;
    std::shared_ptr<Relay> relay_;
};
}
