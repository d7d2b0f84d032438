#pragma once

#include <Qt>

#include <optional>

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
}
