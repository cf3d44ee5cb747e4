// The colour correction dialog: steps, reset, handle dragging and the picture.
//
// The headless curve area is 255 x 257 pixels. Handle k sits at x = 0, 63, 127, 191,
// 255 and y = 257 - (257 * P_k / 255); with the default values 0, 123, 187, 228, 255
// the handles are at y = 257, 134, 69, 28, 0.
#include "ui/dialog_user.h"

#include "color/color_dialog.h"

namespace {

using namespace ua;

constexpr uint32_t red = 0xFF0000, blue = 0x0000FF, black = 0x000000;

class ColourDialog : public DialogUser {
  protected:
    uint8_t stored[5] = {0, 123, 187, 228, 255};
    int run() { return run_colour_dialog(nullptr, nullptr, stored); }
    static std::vector<int> points() {
        return std::vector<int>(correction.points, correction.points + 5);
    }
    void start_from(std::initializer_list<int> values) {
        int k = 0;
        for (int v : values) stored[k++] = static_cast<uint8_t>(v);
    }
};

TEST_F(ColourDialog, SevenGammaStepsThenRefused) {
    std::vector<user_action> s;
    for (int i = 0; i < 7; ++i) s.push_back(up(idc_gamma, ua_must_change));
    s.push_back(probe(1));
    s.push_back(up(idc_gamma, ua_must_change));
    on_probe([](dialog_handle, int) {
        EXPECT_EQ(points(), std::vector<int>({0, 151, 222, 256, 255}));
    });
    act(s);
    EXPECT_EQ(run(), 0); // left: the only way out is OK
    EXPECT_EQ(outcome().gave_up, 2);
    EXPECT_EQ(outcome().action, 8);
    EXPECT_EQ(outcome().refusal, refusal_kind::no_effect);
    // OK keeps every value a byte can store, and the table agrees with them.
    EXPECT_EQ(points(), std::vector<int>({0, 151, 222, 255, 255}));
    EXPECT_EQ(correction_at(255), 255);
}

TEST_F(ColourDialog, GammaDownBelowZeroIsStoredAsZero) {
    start_from({0, 3, 50, 100, 255});
    act({down(idc_gamma, ua_must_change), probe(1), click(idc_curve_ok)});
    on_probe([](dialog_handle, int) {
        EXPECT_EQ(points(), std::vector<int>({0, -1, 45, 96, 255}));
    });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(outcome().gave_up, 0);
    EXPECT_EQ(points(), std::vector<int>({0, 0, 45, 96, 255}));
    EXPECT_EQ(correction_at(0), 0);
}

TEST_F(ColourDialog, SaturationAndTintFromTheDefaults) {
    act({up(idc_saturation, ua_must_change)});
    run();
    EXPECT_EQ(outcome().refusal, refusal_kind::no_effect); // P0 = 0 is not above 1

    act({down(idc_saturation), click(idc_curve_ok)});
    run();
    EXPECT_EQ(points(), std::vector<int>({2, 124, 187, 227, 253}));

    act({up(idc_tint, ua_must_change)}); // P4 = 255
    run();
    EXPECT_EQ(outcome().refusal, refusal_kind::no_effect);
    act({down(idc_tint, ua_must_change)}); // P0 = 0
    run();
    EXPECT_EQ(outcome().refusal, refusal_kind::no_effect);

    start_from({10, 60, 120, 180, 250});
    act({up(idc_tint), up(idc_tint), down(idc_tint), click(idc_curve_ok)});
    run();
    EXPECT_EQ(points(), std::vector<int>({11, 61, 121, 181, 251}));
    // Steps change the working values only: the bytes they started from stay.
    EXPECT_EQ(stored[0], 10);
}

TEST_F(ColourDialog, ResetAsksFirstAndNoChangesNothing) {
    start_from({10, 60, 120, 180, 250});
    act({click(idc_curve_reset), answer(id_no), click(idc_curve_ok)});
    run();
    ASSERT_EQ(outcome().box_count, 1);
    EXPECT_STREQ(outcome().boxes[0].text, "R\xE9initialiser aux valeurs initiales ?");
    EXPECT_STREQ(outcome().boxes[0].title, "Correction d'image");
    EXPECT_EQ(outcome().boxes[0].style, mb_yes_no | mb_icon_question | mb_foreground);
    EXPECT_EQ(points(), std::vector<int>({10, 60, 120, 180, 250}));
    EXPECT_EQ(stored[4], 250);

    act({click(idc_curve_reset), answer(id_yes), click(idc_curve_ok)});
    run();
    EXPECT_EQ(points(), std::vector<int>({0, 123, 187, 228, 255}));
    EXPECT_EQ(std::vector<int>(stored, stored + 5), std::vector<int>({0, 123, 187, 228, 255}));
    EXPECT_EQ(correction_at(64), 103); // the table of the default values
}

TEST_F(ColourDialog, HandleIsGrabbedWithinTwoPixels) {
    on_probe([](dialog_handle dlg, int n) {
        EXPECT_EQ(headless_captured(dlg, idc_curve), n == 2 || n == 4) << n;
        EXPECT_EQ(headless_cursor(), n == 2 || n == 4 ? cursor_kind::cross : cursor_kind::arrow);
    });
    // Handle 1 is at (63, 134).
    act({press(idc_curve, 66, 134), probe(1), release(idc_curve, 66, 134), //
         press(idc_curve, 65, 134), probe(2), release(idc_curve, 65, 134), probe(3),
         press(idc_curve, 63, 137), probe(3), release(idc_curve, 63, 137),
         press(idc_curve, 61, 136), probe(4), release(idc_curve, 61, 136), probe(5),
         click(idc_curve_ok)});
    run();
    EXPECT_EQ(points(), std::vector<int>({0, 123, 187, 228, 255})); // grabs alone move nothing
}

TEST_F(ColourDialog, DragsStayInTheAreaAndApartFromTheNeighbours) {
    // Handles at y = 237, 197, 137, 76, 56.
    start_from({20, 60, 120, 180, 200});
    act({// handle 4 above the area: the top, 255
         press(idc_curve, 253, 56), move(idc_curve, 253, -20), release(idc_curve, 253, -20),
         // handle 0 below the area: the bottom, 0
         press(idc_curve, 0, 237), move(idc_curve, 0, 400), release(idc_curve, 0, 400),
         // handle 2 free: (257 - 100) * 255 / 257
         press(idc_curve, 127, 137), move(idc_curve, 127, 100), probe(1),
         // ... then up against handle 3: 4 pixels below it, at 80
         move(idc_curve, 127, 10), probe(2),
         // ... then down against handle 1: 4 pixels above it, at 193
         move(idc_curve, 127, 250), probe(3), release(idc_curve, 127, 250), click(idc_curve_ok)});
    on_probe([](dialog_handle, int n) {
        const int expected[] = {0, 155, 175, 63};
        EXPECT_EQ(correction.points[2], expected[n]) << n;
    });
    run();
    // Only the dragged values moved; the drags never touched 1 and 3.
    EXPECT_EQ(points(), std::vector<int>({0, 60, 63, 180, 255}));
}

TEST_F(ColourDialog, PictureShowsRedHandlesAndTheBlueCurveOnBlack) {
    on_probe([](dialog_handle dlg, int) {
        const dialog_rect area = headless_client_rect(dlg, idc_curve);
        EXPECT_EQ(area.right, 255);
        EXPECT_EQ(area.bottom, 257);
        const dialog_point centre[5] = {{0, 257}, {63, 134}, {127, 69}, {191, 28}, {255, 0}};
        dialog_point published[5];
        ASSERT_EQ(headless_points(dlg, idc_curve, published, 5), 5);
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(published[k].x, centre[k].x) << k;
            EXPECT_EQ(published[k].y, centre[k].y) << k;
            // The square from (x-2, y-2) to (x+1, y+1) is red, except where the curve,
            // drawn last, crosses it; the columns either side of it are not red.
            int reds = 0;
            for (int y = centre[k].y - 2; y <= centre[k].y + 1; ++y) {
                for (int x = centre[k].x - 2; x <= centre[k].x + 1; ++x) {
                    uint32_t c = headless_pixel(dlg, idc_curve, x, y);
                    if (c == 0xFFFFFFFFu) continue; // outside the area
                    EXPECT_TRUE(c == red || c == blue) << k << " " << x << "," << y;
                    reds += c == red;
                }
                EXPECT_NE(headless_pixel(dlg, idc_curve, centre[k].x - 3, y), red) << k;
                EXPECT_NE(headless_pixel(dlg, idc_curve, centre[k].x + 2, y), red) << k;
            }
            if (k >= 1 && k <= 3)
                EXPECT_EQ(reds, 16) << k; // the curve passes them by
            else
                EXPECT_GE(reds, 2) << k;
        }
        EXPECT_EQ(headless_pixel(dlg, idc_curve, 250, 250), black);
        // The curve is one connected line of blue from left to right.
        for (int x = 3; x < 252; ++x) {
            bool any = false;
            for (int y = 0; y < area.bottom && !any; ++y)
                any = headless_pixel(dlg, idc_curve, x, y) == blue;
            EXPECT_TRUE(any) << x;
        }
    });
    act({probe(1), click(idc_curve_ok)});
    run();
}

} // namespace
