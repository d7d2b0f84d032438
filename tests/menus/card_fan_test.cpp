#include "core/base/settings.h"
#include "menus/card_fan_drawing.h"
#include "menus/card_fan_layout.h"
#include "menus/drawing_kit.h"
#include "support/test_support.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTransform>

#include <gtest/gtest.h>

#include <cmath>

using namespace TestSupport;
using namespace FanGeometry;

namespace {

const QSizeF canvas(660, 450);

// A point `r` from the upward pivot at `angle` degrees from straight up (y up).
QPointF polar(double angle, double r) { return pivot(canvas, false) + QTransform().rotate(-angle).map(QPointF(0, r)); }

FanState fanOf(int count)
{
    FanState state;
    state.cards.assign(size_t(count), {"C", std::nullopt, std::nullopt, nullptr, nullptr});
    state.lift.assign(size_t(count), Spring{0, 0, 0, 420, 32});
    return state;
}

QImage render(const std::vector<std::string>& args, const std::vector<std::pair<std::string, std::string>>& env = {})
{
    const auto run = runBrivlon(args, 30, env);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return QImage(QString::fromStdString(args[args[0] == "--render-fan" ? 3 : 2]))
        .convertToFormat(QImage::Format_ARGB32);
}

// The pixel at a point of the y-up design.
QRgb pixel(const QImage& image, QPointF point) { return image.pixel(Draw::fromYUp(point, 450).toPoint()); }

// A point of a card's face in its own y-up coordinates (by default the lower left corner,
// unlabelled and unhidden), where the fan's own layout puts that card, raised or resting.
QPointF onCard(int index, int count, double lift = 0, bool down = false, QPointF local = {-32, -35})
{
    auto state = fanOf(count);
    state.opensDown = down;
    state.lift[size_t(index)] = Spring{lift, lift, 0, 420, 32};
    for (const auto& card : FanGeometry::frame(state, 100).cards)
        if (card.index == index)
            return card.centre + QTransform().rotate(card.rotation).scale(card.scale, card.scale).map(local);
    return {};
}

// Opaque and within a few levels of `expected`.
bool near(QRgb actual, QColor expected)
{
    return qAlpha(actual) >= 240
        && std::abs(qRed(actual) - expected.red()) + std::abs(qGreen(actual) - expected.green())
            + std::abs(qBlue(actual) - expected.blue())
        <= 6;
}

const QColor accent(0, 122, 255);  // the macos theme's highlight in offscreen renders

}

TEST(CardFanGeometry, AnglesCentresAndHitsFromOneToEighteenCards)
{
    for (auto [count, outer] : std::vector<std::pair<int, double>>{{1, 0}, {5, 34}, {6, 32.5}, {14, 48}, {18, 48}}) {
        SCOPED_TRACE(count);
        EXPECT_NEAR(baseAngle(count - 1, count), outer, 1e-9);
        EXPECT_NEAR(baseAngle(0, count), -outer, 1e-9);
        for (int i = 0; i < count; ++i) {
            // Each resting card's centre, and points towards both ends of the band, hit it.
            const double a = baseAngle(i, count);
            EXPECT_EQ(hit(centre(canvas, false, a, radius), count, canvas, false), i);
            for (double r : {194, 196, 362, 364})
                EXPECT_EQ(hit(polar(a, r), count, canvas, false), r > 195 && r < 363 ? std::optional(i) : std::nullopt);
        }
        // Below the pivot's height nothing, even inside the radii.
        for (QPointF below : {QPointF(250, 0), QPointF(-250, -5)})
            EXPECT_EQ(hit(pivot(canvas, false) + below, count, canvas, false), std::nullopt);
    }
    // One card is hit within 14 degrees; a spread ends 3 past its outer card's half step (8.5 to 5 cards).
    for (auto [count, angle, card] : std::vector<std::tuple<int, double, std::optional<int>>>{
             {1, 13.5, 0}, {1, 14.5, {}}, {5, 45, 4}, {5, -46, {}}, {18, 53.5, 17}, {18, 54, {}}})
        EXPECT_EQ(hit(polar(angle, 262), count, canvas, false), card) << count << " at " << angle;
}

TEST(CardFanGeometry, HalfwayBetweenTwoCardsTakesTheOuterIndex)
{
    // Straight up lies exactly between the middle cards of an even fan.
    EXPECT_EQ(hit(polar(0, 262), 6, canvas, false), 3);
    EXPECT_EQ(hit(polar(0, 262), 4, canvas, false), 2);
}

TEST(CardFanGeometry, OpeningDownwardsMirrorsTopToBottom)
{
    EXPECT_EQ(anchor(canvas, true), QPointF(330, 450 - anchor(canvas, false).y()));
    for (int i = 0; i < 8; ++i) {
        const double a = baseAngle(i, 8);
        const QPointF up = centre(canvas, false, a, radius), down = centre(canvas, true, a, radius);
        EXPECT_NEAR((down - QPointF(up.x(), 450 - up.y())).manhattanLength(), 0, 1e-9);
        EXPECT_NEAR(rotation(a, true), -rotation(a, false), 1e-9);
        EXPECT_EQ(hit(down, 8, canvas, true), i);
    }
    EXPECT_EQ(hit({330, 290}, 8, canvas, true), std::nullopt);  // the upward fan's middle, too near when hanging
}

TEST(CardFanGeometry, VisibleStripNarrowsAsCardsAreAdded)
{
    // Up to five cards the arc (88.7) is capped at a card's width.
    for (auto [count, width] : std::vector<std::pair<int, double>>{{1, 0}, {5, 84}, {8, 67.8}, {13, 41.7}, {18, 29.5}})
        EXPECT_NEAR(stripWidth(count), width, 0.1) << count;
}

// Every card's label, drawn on see-through faces so that nothing hides it, against the same fan
// without that one label: the difference is the label's whole ink.
TEST(CardFanLabels, StayInTheVisiblePartOfTheirCard)
{
    auto palette = Theme::palette(false, AppTheme::classic);
    palette.slice = palette.sliceLine = Qt::transparent;
    palette.text = Qt::black;
    palette.shadow = 0;
    const std::vector<std::string> labels{"Comprimir", "Sem metadados", "AirDrop", "Caminho", "MÁXIMA 100%",
        "EXTRAIR PÁGINAS", "ABRIR COM…", "TAR.GZ", "Na pasta"};
    auto draw = [&](const FanState& state) {
        QImage image(660, 450, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintFan(painter, state, 0, palette);
        return image;
    };
    for (int count : {4, 8, 13, 18}) {
        auto state = fanOf(count);
        state.numbered = true;
        for (int i = 0; i < count; ++i)
            state.cards[size_t(i)].label = labels[size_t(i) % labels.size()];
        const auto whole = draw(state);
        const auto cards = FanGeometry::frame(state, 0).cards;
        for (int i = 0; i + 1 < count; ++i) {
            auto without = state;
            without.cards[size_t(i)].label = "";
            const auto rest = draw(without);
            // Card space of a card: its centre at the origin, y up, unscaled.
            auto local = [&](int index, QPointF point) {
                const auto& card = cards[size_t(index)];
                return QTransform().rotate(card.rotation).inverted().map(point - card.centre);
            };
            int ink = 0, hidden = 0, inCorner = 0;
            for (int y = 0; y < 450; ++y)
                for (int x = 0; x < 660; ++x) {
                    if (std::abs(qAlpha(whole.pixel(x, y)) - qAlpha(rest.pixel(x, y))) < 96)
                        continue;
                    ++ink;
                    const QPointF point = Draw::fromYUp(QPointF(x + 0.5, y + 0.5), 450);
                    const QPointF own = local(i, point), next = local(i + 1, point);
                    hidden += next.x() > -42 && next.y() > -61 && next.y() < 61;
                    inCorner += own.y() > 41 || own.x() > 41 || own.x() < -41;
                }
            EXPECT_GT(ink, 20) << count << " cards, " << labels[size_t(i) % labels.size()];
            EXPECT_EQ(hidden, 0) << count << " cards, " << labels[size_t(i) % labels.size()];
            EXPECT_EQ(inCorner, 0) << count << " cards, " << labels[size_t(i) % labels.size()];
        }
    }
}

TEST(CardFanLabels, RaisedAndLastCardsBreakAtSpacesAndTakeTheLargestSize)
{
    EXPECT_EQ(FanLabels::fit("PDF ÚNICO", true, 8, 0).text, "PDF\nÚNICO");
    EXPECT_LT(FanLabels::fit("MÁXIMA 100%", true, 8, 0.9).size, FanLabels::fit("JPG", true, 8, 0).size);
    // Short labels stand upright in a strip of six to thirteen cards, long words go sideways.
    EXPECT_EQ(FanLabels::fit("JPG", false, 13, 0).layout, FanLabels::Layout::strip);
    EXPECT_EQ(FanLabels::fit("SEM ÁUDIO", false, 8, 0).text, "SEM\nÁUDIO");
    EXPECT_EQ(FanLabels::fit("GIF", false, 14, 0).layout, FanLabels::Layout::sideways);
}

TEST(CardFanFrames, DealingAndThePickClose)
{
    auto state = fanOf(8);
    // Never shown: fully dealt and opaque, at the resting places.
    auto frame = FanGeometry::frame(state, 100);
    ASSERT_EQ(frame.cards.size(), 8u);
    for (const auto& card : frame.cards)
        EXPECT_TRUE(card.alpha == 1
            && (card.centre - centre(canvas, false, baseAngle(card.index, 8), radius)).manhattanLength() < 1e-9);
    state.shownAt = 100;
    frame = FanGeometry::frame(state, 100.03);
    EXPECT_TRUE(frame.cards[0].alpha == 0 && frame.cards[3].alpha > 0);  // dealing starts from the middle

    state = fanOf(8);
    state.highlighted = state.picked = 3;
    state.lift[3] = {1, 1, 0, 420, 32};
    EXPECT_EQ(FanGeometry::frame(state, 100).cards.back().index, 3);  // the raised card is painted last
    state.hidingAt = 100;
    // The picked card rises away from the pivot while it turns upright and over.
    const auto distance = [](const FanGeometry::Card& card) {
        return std::hypot(card.centre.x() - 330, card.centre.y() - 28);
    };
    const auto raised = FanGeometry::frame(state, 100).cards.back();
    auto picked = FanGeometry::frame(state, 100.03).cards.back();
    EXPECT_TRUE(distance(picked) > distance(raised) && picked.flip > 0 && picked.flip < 1);
    EXPECT_LT(std::abs(picked.rotation), std::abs(raised.rotation));
    frame = FanGeometry::frame(state, 100.3);
    const auto turned = frame.cards.back();
    EXPECT_GT(distance(turned), distance(picked) + 20);
    EXPECT_NEAR(turned.flip, -1, 1e-9);
    EXPECT_NEAR(turned.rotation, 0, 1e-9);
    EXPECT_EQ(frame.infoAlpha, 0);
    for (size_t i = 0; i + 1 < frame.cards.size(); ++i)
        EXPECT_EQ(frame.cards[i].alpha, 0);
    EXPECT_NEAR(FanGeometry::frame(state, 100.58).cards.back().alpha, 0, 1e-9);
}

TEST(RenderModes, FanStills)
{
    TempDir dir;
    const auto out = (dir / "fan.png").string();
    // A PNG offers eight formats; none is raised, so all faces are alike.
    auto image = render({"--render-fan", "convert", "png", out});
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(near(pixel(image, onCard(i, 8)), QColor::fromRgba(pixel(image, onCard(7, 8))))) << i;
    EXPECT_EQ(qAlpha(pixel(image, polar(baseAngle(7, 8) + 25, radius))), 0);  // no ninth card

    // The fourth card raised, in the mode's own colour of the stage theme.
    image = render(
        {"--render-fan", "convert", "png", out, "3"}, {{"BRIVLON_THEME", "stage"}, {"BRIVLON_APPEARANCE", "dark"}});
    EXPECT_TRUE(near(pixel(image, onCard(3, 8, 1)), QColor(255, 46, 126)));
    EXPECT_FALSE(near(pixel(image, onCard(2, 8)), QColor(255, 46, 126)));

    // Opening downwards: the raised card hangs below, the pill moves to the bottom.
    image = render({"--render-fan", "convert", "png", out, "3", "baixo"});
    EXPECT_TRUE(near(pixel(image, onCard(3, 8, 1, true)), accent));
    EXPECT_TRUE(qAlpha(pixel(image, {330, 26})) > 240 && qAlpha(pixel(image, {330, 450 - 26})) == 0);

    // 0.3 s after the pick one card stands upright, its back on the darkened accent; the rest are gone.
    image = render({"--render-fan", "convert", "png", out, "3", "pick", "0.3"});
    auto state = fanOf(8);
    state.highlighted = state.picked = 3;
    state.lift[3] = Spring{1, 1, 0, 420, 32};
    state.hidingAt = 100;
    const auto back = FanGeometry::frame(state, 100.3).cards.back();  // between the edge and the back's frame
    const QPointF plain
        = back.centre + QTransform().rotate(back.rotation).scale(back.scale, back.scale).map(QPointF(-39, 7));
    EXPECT_TRUE(near(pixel(image, plain), QColor(0, 79, 166)));
    EXPECT_EQ(qAlpha(pixel(image, onCard(0, 8))), 0);
    QImage blank(660, 450, QImage::Format_ARGB32);
    blank.fill(Qt::transparent);
    EXPECT_EQ(render({"--render-fan", "convert", "png", out, "3", "pick", "0.58"}), blank);

    // The reason in the program's words, with the file's name, never Qt's English.
    auto failed = runBrivlon({"--render-fan", "convert", "png", (dir / "nenhuma" / "f.png").string()}, 30);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err, "erro: A pasta “nenhuma” não existe (" + dir.path().string() + ").\n");
    fs::create_directories(dir / "pasta.png");
    failed = runBrivlon({"--render-fan", "convert", "png", (dir / "pasta.png").string()}, 30);
    EXPECT_EQ(failed.err, "erro: “pasta.png” é uma pasta, não um arquivo.\n");
}

TEST(RenderModes, QualityCardsRaiseTheSavedLevel)
{
    TempDir dir;
    Defaults::set(SettingKey::quality, "jpg", "web");
    const auto image = render({"--render-quality", "jpg", (dir / "q.png").string()});
    Defaults::remove(SettingKey::quality, "jpg");
    EXPECT_TRUE(near(pixel(image, onCard(2, 4, 1)), accent));
    EXPECT_FALSE(near(pixel(image, onCard(1, 4)), accent));
    // The pill carries the raised card's detail, marked as the default.
    int width = 0;
    for (int x = 0; x < 660; ++x)
        width += qAlpha(image.pixel(x, 26)) >= 128;
    const auto detail = QualityGroups::label(QualityGroup::jpg, QualityLevel::web) + " (padrão)";
    EXPECT_NEAR(width,
        QFontMetricsF(Draw::font(12.5, QFont::DemiBold)).horizontalAdvance(QString::fromStdString(detail)) + 30, 3);
}

TEST(RenderModes, FanWordsNotTakenStartTheProgram)
{
    TempDir dir;
    const auto out = (dir / "x.png").string();
    for (const auto& args : std::vector<std::vector<std::string>>{{"--render-fan", "video", "png", out},
             {"--render-quality", "video", out}, {"--render-quality", "xyz", out}}) {
        // The normal start, without a display, says that it needs one.
        const auto run = runBrivlon(args, 30, {{"DISPLAY", ""}});
        EXPECT_NE(run.err.find("sessão gráfica"), std::string::npos) << args[1] << " " << args[2] << ": " << run.err;
        EXPECT_FALSE(fs::exists(out));
    }
}
