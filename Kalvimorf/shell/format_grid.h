#pragma once

#include "shell/item_focus.h"
#include "shell/view_look.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The main window's grid of tiles, one per card entry, four to a row. One widget paints them
// all, so a tile may grow past its cell under the pointer.
struct FormatTile {
    std::string label;
    std::string detail;  // the second, smaller line; empty for none
    std::string tooltip;
    bool twoLines = false;  // convert mode: label over detail; otherwise one centred text
};

struct TileLook {
    double hover = 0;  // springs: 0 at rest, 1 hovered
    double press = 0;  // 1 pressed
    bool hovered = false;
    bool focused = false;  // the keyboard is on it
};

namespace FormatGridDrawing {
constexpr int columns = 4;
constexpr double spacing = 10;
constexpr double padding = 4;
constexpr double tileHeight = 54;
QRectF tileRect(double width, int index);
double height(double width, size_t count);
void paintTile(
    QPainter& painter, const QRectF& rect, const FormatTile& tile, const TileLook& look, const ViewColors& colors);
}

class FormatGrid : public QWidget {
public:
    explicit FormatGrid(QWidget* parent = nullptr);
    void setTiles(std::vector<FormatTile> tiles);
    const std::vector<FormatTile>& tiles() const { return tiles_; }
    // Called with the tile's index when a press is let go over the same tile, or when Return is
    // pressed on the tile the keyboard is on.
    std::function<void(int)> onClick;
    // The tile the keyboard is on, -1 for none.
    int focusedTile() const;
    int tileAt(QPointF point) const;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setHovered(int index);
    void rebuildTicker();

    std::vector<FormatTile> tiles_;
    std::vector<Spring> hover_;
    std::vector<Spring> press_;
    std::unique_ptr<SpringTicker> ticker_;
    ItemFocus* focus_;
    int hovered_ = -1;
    int pressed_ = -1;
};
