#include "menus/menu_surface.h"

MenuSurface::MenuSurface() { DropOffers::takeMovesAsCopies(); }
