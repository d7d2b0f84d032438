#pragma once

#include "core/base/appearance.h"
#include "core/jobs/job.h"

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QPainter;

// The progress panel's content: a header that counts the running jobs with the panel's buttons,
// then the last five jobs, one row each. Pure functions of the jobs, the size, the time and the
// colours; the panel window and the --render-view mode both paint through them.
namespace HudView {

constexpr double width = 330;
constexpr int shownRows = 5;
// 10 + 24 + 6 + 46 per row + 6 between rows + 10.
double height(size_t jobCount);

// "Brivlon!", "Fazendo a mágica…", "Fazendo 3 mágicas…".
std::string headerTitle(const std::vector<Job>& jobs);
// "+N" for the jobs beyond the five listed.
std::optional<std::string> overflow(const std::vector<Job>& jobs);
// The jobs that get a row: the last five, oldest at the top.
std::vector<Job> shown(const std::vector<Job>& jobs);

namespace Row {
std::string title(const Job& job);
std::string subtitle(const Job& job);
// The failure's message; nothing for any other state.
std::string tooltip(const Job& job);
enum class Icon { ring, spinner, clock, star, failed, info, cancelled };
Icon icon(const Job& job);
}

struct Colours {
    QColor background;  // the panel's rounded ground
    QColor primary;
    QColor secondary;
    QColor tertiary;
    QColor accent;  // the theme's convert colour
    static Colours of(bool dark, AppTheme theme);
};

// Where everything is, in the panel's own coordinates.
struct Layout {
    QRectF title;
    std::optional<QRectF> overflow, cancelAll, clear;
    QRectF hide;
    struct RowBox {
        QUuid id;
        QRectF frame;
        QRectF icon;  // 26 × 26
        std::optional<QRectF> cancel;  // running rows only
    };
    std::vector<RowBox> rows;
};
Layout layout(const std::vector<Job>& jobs, QSizeF size);

enum class Target { none, cancelAll, clear, hide, row, cancelRow };
struct Hit {
    Target target = Target::none;
    std::optional<QUuid> job;
};
Hit hit(const Layout& layout, QPointF point);

// What the panel keeps between frames: the time now, how long ago each done row turned done (its
// sparkle), how far each ring has got on its way to the job's progress, how long each row has
// been listed (rows come in from above while fading in), and the cancel button under the
// pointer. Absent functions draw everything at rest.
struct Looks {
    double now = 0;
    std::function<double(const QUuid&)> burstAge;
    std::optional<QUuid> hoveredCancel;
    std::function<double(const Job&)> ringProgress;
    std::function<double(const QUuid&)> rowAge;
};
// A row's entry `age` seconds after it was listed: its opacity and how far above its place it is.
struct Entry {
    double opacity;
    double offset;
};
Entry entry(double age);
void paintBackground(QPainter& painter, QSizeF size, const Colours& colours);
void paint(QPainter& painter, const std::vector<Job>& jobs, QSizeF size, const Colours& colours, const Looks& looks);

}
