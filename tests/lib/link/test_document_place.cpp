// Placement of a document's page on the printable area: when a page counts as the
// area's size (1:1, centred), fitting, scale, origin and centring, and the lengths cut
// at each edge, computed by hand for each case.
#include <gtest/gtest.h>

#include "link/document_job.h"

namespace {

// A 40 x 30 in area at 1016 plotter units an inch and 600 dpi.
document_page_geometry page(double w_in, double h_in) {
    return {w_in, h_in, 40 * 1016.0, 30 * 1016.0, 1016, 600};
}

document_placement place(double w_in, double h_in, const placement_options& o = {}) {
    document_placement out;
    std::string why;
    EXPECT_EQ(place_document_page(page(w_in, h_in), o, &out, &why), 0) << why;
    return out;
}

TEST(DocumentPlacement, PageOfTheAreasSizeWithinToleranceLandsOneToOneCentred) {
    // Across, 2 % of 40 in (0.8 in) is more than 20 mm; along, 20 mm (0.787 in) is more
    // than 2 % of 30 in.
    for (double dw : {-0.8, 0.0, 0.8}) {
        const document_placement p = place(40 + dw, 30.6);
        EXPECT_TRUE(p.one_to_one) << dw;
        EXPECT_DOUBLE_EQ(p.scale, 1);
        EXPECT_NEAR(p.x0, -dw * 1016 / 2, 1e-6);
        EXPECT_NEAR(p.y0, -0.3 * 1016, 1e-6);
    }
    // Cut evenly: 0.8 in wider is 10.16 mm at each side; 0.6 in taller, 7.62 mm.
    const document_placement wide = place(40.8, 30.6);
    EXPECT_NEAR(wide.cut_mm[0], 10.16, 1e-6);
    EXPECT_NEAR(wide.cut_mm[1], 10.16, 1e-6);
    EXPECT_NEAR(wide.cut_mm[2], 7.62, 1e-6);
    EXPECT_NEAR(wide.cut_mm[3], 7.62, 1e-6);
    // Just beyond the tolerance on one side: fitted instead.
    EXPECT_FALSE(place(40.81, 30).one_to_one);
    EXPECT_TRUE(place(40, 29.22).one_to_one);
    EXPECT_FALSE(place(40, 29.2).one_to_one);
}

TEST(DocumentPlacement, SmallSheetsUseTwentyMillimetres) {
    // A 10 x 8 in area: 2 % would be 0.2 in, 20 mm is 0.787 in.
    document_page_geometry g{10.7, 8, 10 * 1016.0, 8 * 1016.0, 1016, 600};
    document_placement out;
    std::string why;
    ASSERT_EQ(place_document_page(g, {}, &out, &why), 0);
    EXPECT_TRUE(out.one_to_one);
    g.page_w_in = 10.8;
    ASSERT_EQ(place_document_page(g, {}, &out, &why), 0);
    EXPECT_FALSE(out.one_to_one);
}

TEST(DocumentPlacement, OtherPagesAreFittedFromTheOrigin) {
    // 10 x 5 in into 40 x 30: four times (the width limits).
    document_placement p = place(10, 5);
    EXPECT_FALSE(p.one_to_one);
    EXPECT_DOUBLE_EQ(p.scale, 4);
    EXPECT_DOUBLE_EQ(p.x0, 0);
    EXPECT_DOUBLE_EQ(p.x1, 40 * 1016.0);
    EXPECT_DOUBLE_EQ(p.y1, 20 * 1016.0);
    // Fitted beside an origin of 254 mm (10 in) across: 30 in left, so three times.
    placement_options o;
    o.origin_x_mm = 254;
    p = place(10, 5, o);
    EXPECT_DOUBLE_EQ(p.scale, 3);
    EXPECT_DOUBLE_EQ(p.x0, 10 * 1016.0);
    // Centred: the 40 x 20 in page in the middle of the 30 in height.
    o = {};
    o.center = true;
    p = place(10, 5, o);
    EXPECT_DOUBLE_EQ(p.y0, 5 * 1016.0);
    EXPECT_DOUBLE_EQ(p.y1, 25 * 1016.0);
}

TEST(DocumentPlacement, ScaleAndFitAreObeyedEvenAtTheAreasSize) {
    placement_options o;
    o.scale = 0.5;
    document_placement p = place(40, 30, o);
    EXPECT_FALSE(p.one_to_one);
    EXPECT_DOUBLE_EQ(p.x1, 20 * 1016.0);
    EXPECT_DOUBLE_EQ(p.x0, 0);
    // --scale 1:1 of a page larger than the area: from the corner, cut at the far edges.
    o.scale = 1;
    p = place(50, 30, o);
    EXPECT_DOUBLE_EQ(p.cut_mm[0], 0);
    EXPECT_NEAR(p.cut_mm[1], 254, 1e-6);
    // --fit of a page at the area's size within tolerance: fitted exactly.
    o = {};
    o.fit = true;
    p = place(40.4, 30, o);
    EXPECT_FALSE(p.one_to_one);
    EXPECT_NEAR(p.x1, 40 * 1016.0, 1e-6);
    // No room beside the origin: refused.
    o.origin_x_mm = 40 * 25.4;
    document_placement out;
    std::string why;
    EXPECT_EQ(place_document_page(page(10, 5), o, &out, &why), 2);
    EXPECT_FALSE(why.empty());
}

} // namespace
