// The menu's translucent window on an X server with no compositing manager (support/with-x runs
// none): the desktop must show beside the cards, not a black rectangle, and when a compositing
// manager takes the screen the window is whole again (its owner here only claims the selection,
// so the unshaped window's black is what shows), until it leaves. Under a compositing manager that
// draws shadows (xcompmgr -c) the desktop shows beside the cards too, not a shaded square.

#include "support/line_child.h"
#include "support/test_support.h"

#include <QPoint>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <thread>

using namespace TestSupport;

namespace {

constexpr uint32_t desktop = 0x2e8b57;  // the root window's colour: sea green

class NoCompositor : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
        connection_ = xcb_connect(nullptr, nullptr);
        ASSERT_FALSE(xcb_connection_has_error(connection_));
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        xcb_change_window_attributes(connection_, screen_->root, XCB_CW_BACK_PIXEL, &desktop);
        xcb_clear_area(connection_, 0, screen_->root, 0, 0, 0, 0);
        xcb_flush(connection_);
    }

    void TearDown() override { xcb_disconnect(connection_); }

    uint32_t pixel(int x, int y)
    {
        auto* image = xcb_get_image_reply(connection_,
            xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root, int16_t(x), int16_t(y), 1, 1, ~0u),
            nullptr);
        uint32_t value = 0;
        if (image && xcb_get_image_data_length(image) >= 4)
            std::memcpy(&value, xcb_get_image_data(image), 4);
        std::free(image);
        return value & 0xffffff;
    }

    // Whether the pixel comes to show the desktop (or stops showing it) within ten seconds, a
    // bound that only a stuck server reaches.
    bool becomes(int x, int y, bool showsDesktop)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if ((pixel(x, y) == desktop) == showsDesktop)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    xcb_window_t claimCompositing()
    {
        const char* name = "_NET_WM_CM_S0";
        auto* atom = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen_->root, -1, -1, 1, 1, 0,
            XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(connection_, window, atom->atom, XCB_CURRENT_TIME);
        std::free(atom);
        xcb_flush(connection_);
        return window;
    }

    struct Probe {
        QPoint beside, drawn, near, middle;
    };

    // Shows the menu of this test's kind and reads the probe's points.
    ::testing::AssertionResult show(std::optional<LineChild>& probe, Probe& points)
    {
        probe.emplace(MENU_SHAPE_PROBE, std::vector<std::string>{GetParam()});
        const auto ready = probe->nextLine();
        if (!ready)
            return ::testing::AssertionFailure() << "the menu never showed";
        std::string word;
        int x[8] = {};
        std::istringstream words(*ready);
        words >> word;
        for (int& value : x)
            words >> value;
        if (word != "ready" || !words)
            return ::testing::AssertionFailure() << "the probe said \"" << *ready << "\"";
        points = {{x[0], x[1]}, {x[2], x[3]}, {x[4], x[5]}, {x[6], x[7]}};
        return ::testing::AssertionSuccess();
    }

    static int luminance(uint32_t rgb)
    {
        return (2 * int(rgb >> 16 & 0xff) + 7 * int(rgb >> 8 & 0xff) + int(rgb & 0xff)) / 10;
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
};

}

TEST_P(NoCompositor, TheDesktopShowsBesideWhatIsDrawn)
{
    std::optional<LineChild> probe;
    Probe at;
    ASSERT_TRUE(show(probe, at));
    const int besideX = at.beside.x(), besideY = at.beside.y();

    EXPECT_TRUE(becomes(besideX, besideY, true)) << std::hex << "beside the cards: " << pixel(besideX, besideY);
    EXPECT_NE(pixel(at.drawn.x(), at.drawn.y()), desktop) << "the cards themselves show";
    // Out across the wheel's rim, all round but for the gaps between its five segments: the
    // segment's face, then the desktop, and no dark pixel between them where an antialiased edge
    // was kept and shown over black.
    if (std::string(GetParam()) == "wheel")
        for (int segment = 0; segment < 5; ++segment)
            for (int off = -27; off <= 27; off += 9) {
                const double a = (72 * segment + off) * M_PI / 180;
                auto along = [&](double r) {
                    return pixel(at.middle.x() + int(std::lround(r * std::sin(a))),
                        at.middle.y() - int(std::lround(r * std::cos(a))));
                };
                const int face = luminance(along(140));
                for (double r = 140; r <= 170; r += 0.5) {
                    const uint32_t shown = along(r);
                    EXPECT_TRUE(shown == desktop || luminance(shown) >= face * 85 / 100)
                        << "a dark rim at " << 72 * segment + off << "°, radius " << r << ": " << std::hex << shown;
                }
            }

    // A compositing manager arrives: it blends the window's transparency itself, so the shape
    // goes. This one composites nothing, so the window's own transparent black shows.
    const xcb_window_t owner = claimCompositing();
    EXPECT_TRUE(becomes(besideX, besideY, false)) << "the shape stayed with a compositing manager";
    // And leaves.
    xcb_destroy_window(connection_, owner);
    xcb_flush(connection_);
    EXPECT_TRUE(becomes(besideX, besideY, true)) << "no shape came back when the compositing manager left";
}

INSTANTIATE_TEST_SUITE_P(Menus, NoCompositor, ::testing::Values("fan", "wheel"));

namespace {

// An X server whose compositing manager draws a shadow under every window, as `xcompmgr -c` does.
class ShadowingCompositor : public NoCompositor {
protected:
    void SetUp() override
    {
        NoCompositor::SetUp();
        // xcompmgr paints the desktop from the root's background pixmap, grey without one.
        const xcb_pixmap_t tile = xcb_generate_id(connection_);
        xcb_create_pixmap(connection_, screen_->root_depth, tile, screen_->root, 1, 1);
        const xcb_gcontext_t gc = xcb_generate_id(connection_);
        xcb_create_gc(connection_, gc, tile, XCB_GC_FOREGROUND, &desktop);
        const xcb_rectangle_t one{0, 0, 1, 1};
        xcb_poly_fill_rectangle(connection_, tile, gc, 1, &one);
        xcb_change_property(
            connection_, XCB_PROP_MODE_REPLACE, screen_->root, atom("_XROOTPMAP_ID"), XCB_ATOM_PIXMAP, 32, 1, &tile);
        xcb_flush(connection_);
        compositor_.emplace("/usr/bin/xcompmgr", std::vector<std::string>{"-c"});
        const xcb_atom_t selection = atom("_NET_WM_CM_S0");
        for (int i = 0; i < 250 && !owned(selection); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(owned(selection)) << "xcompmgr never took the screen";
    }

    void TearDown() override
    {
        compositor_.reset();
        NoCompositor::TearDown();
    }

    xcb_atom_t atom(const char* name)
    {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    bool owned(xcb_atom_t selection)
    {
        auto* reply
            = xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection), nullptr);
        const bool owned = reply && reply->owner != XCB_NONE;
        std::free(reply);
        return owned;
    }

    // Within a few levels of the desktop: the menu's own soft shadow at most, nothing like the
    // compositor's shadow of the whole window.
    static bool nearlyTheDesktop(uint32_t shown)
    {
        for (int shift : {0, 8, 16})
            if (std::abs(int(shown >> shift & 0xff) - int(desktop >> shift & 0xff)) > 12)
                return false;
        return true;
    }

    // Whether the pixel comes to show the desktop within a few seconds, the compositor having
    // painted.
    bool showsTheDesktop(QPoint at)
    {
        for (int i = 0; i < 150; ++i) {
            if (nearlyTheDesktop(pixel(at.x(), at.y())))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::optional<LineChild> compositor_;
};

}

TEST_P(ShadowingCompositor, TheDesktopShowsBesideWhatIsDrawn)
{
    std::optional<LineChild> probe;
    Probe at;
    ASSERT_TRUE(show(probe, at));
    EXPECT_TRUE(showsTheDesktop(at.near)) << std::hex << "just outside the menu: " << pixel(at.near.x(), at.near.y());
    EXPECT_TRUE(showsTheDesktop(at.beside)) << std::hex << "beside it: " << pixel(at.beside.x(), at.beside.y());
    EXPECT_FALSE(nearlyTheDesktop(pixel(at.drawn.x(), at.drawn.y()))) << "the cards themselves show";
}

INSTANTIATE_TEST_SUITE_P(Menus, ShadowingCompositor, ::testing::Values("fan", "wheel"));
