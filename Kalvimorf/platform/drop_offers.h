#pragma once

#include <Qt>

#include <filesystem>
#include <optional>
#include <vector>

class QMimeData;

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
}
