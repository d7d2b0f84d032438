// The menu's translucent window on an X server with no compositing manager (support/with-x runs
// none): the desktop must show beside the cards, not a black rectangle, and when a compositing
// manager takes the screen the window is whole again (its owner here only claims the selection,
// so the unshaped window's black is what shows), until it leaves.

#include "support/line_child.h"
#include "support/test_support.h"

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
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

    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
};

}

TEST_P(NoCompositor, TheDesktopShowsBesideWhatIsDrawn)
{
    LineChild probe(MENU_SHAPE_PROBE, {GetParam()});
    const auto ready = probe.nextLine();
    ASSERT_TRUE(ready) << "the menu never showed";
    std::string word;
    int besideX = 0, besideY = 0, drawnX = 0, drawnY = 0;
    std::istringstream(*ready) >> word >> besideX >> besideY >> drawnX >> drawnY;
    ASSERT_EQ(word, "ready");

    EXPECT_TRUE(becomes(besideX, besideY, true)) << std::hex << "beside the cards: " << pixel(besideX, besideY);
    EXPECT_NE(pixel(drawnX, drawnY), desktop) << "the cards themselves show";

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
