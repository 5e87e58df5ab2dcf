#include "ChannelDocuments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace channel_docs;
using Zan::JsonMetadata::OpticalFilterSpectrum;

namespace {

OpticalFilterSpectrum load(const json& s) {
    OpticalFilterSpectrum spectrum;
    spectrum.loadFromJson(s);
    return spectrum;
}

// (wavelength, type) of every point.
std::vector<std::pair<double, std::uint32_t>> edges(const OpticalFilterSpectrum& s) {
    std::vector<std::pair<double, std::uint32_t>> out;
    for (const auto& p : s.points)
        out.emplace_back(p.dWavelength, p.eType);
    return out;
}

TEST(OpticalFilterSpectrum, SingleWavelengthOverFilterShapes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* shape;
        json spectrum;
        double expected;
    };
    const Case cases[] = {
        {"band edges", spectrum({{500, 2}, {550, 3}}), 525.0},
        {"single line", spectrum({{480, 4}}), 480.0},
        {"line after an opening edge is consumed", spectrum({{400, 2}, {430, 4}, {500, 3}}), 443.0},
        {"second opening edge is consumed, no band found", spectrum({{400, 2}, {450, 2}, {500, 3}}), 450.0},
        {"band after passed-over points", spectrum({{380, 1}, {500, 2}, {550, 3}}), 525.0},
        {"one point of another type", spectrum({{600, 1}}), 600.0},
        {"weighted mean rounds halves up", spectrum({{500, 1, 1.0}, {600, 1, 3.0}}), 575.0},
        {"weighted mean to the nearest nanometre", spectrum({{500, 1, 1.0}, {501, 1, 1.0}}), 501.0},
        {"no transmission", spectrum({{500, 1, 0.0}, {600, 1, 0.0}}), 0.0},
        {"negative transmission", spectrum({{500, 1, -1.0}, {600, 1, -2.0}}), 0.0},
        {"empty", spectrum({}), 0.0},
        {"curve with a plateau",
         spectrum({{500, 1, 0.1}, {510, 1, 0.8}, {520, 1, 1.0}, {530, 1, 1.0}, {540, 1, 0.3}}, true), 525.0},
        {"curve peaking at its first point", spectrum({{500, 1, 1.0}, {510, 1, 0.5}, {520, 1, 0.2}}, true),
         505.0},
        {"curve that never falls to half on the right",
         spectrum({{500, 1, 0.1}, {510, 1, 1.0}, {520, 1, 0.9}}, true), 514.0},
        {"flat zero curve", spectrum({{500, 1, 0.0}, {510, 1, 0.0}}, true), 0.0},
        {"empty curve", spectrum({}, true), 0.0},
        // The mean is held as an unsigned 32-bit count: out of range or NaN saturates, never wraps.
        {"mean beyond 32 bits", spectrum({{1e12, 1}, {1e12, 1}}), 4294967295.0},
        {"negative mean", spectrum({{-700, 1}, {-500, 1}}), 0.0},
        {"NaN wavelength", spectrum({{nan, 1}, {500, 1}}), 0.0},
        {"NaN transmissions in a curve", spectrum({{500, 1, nan}, {510, 1, nan}}, true), 0.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(load(c.spectrum).singleWavelength(), c.expected) << c.shape;
}

TEST(OpticalFilterSpectrum, LoadsPointsInTheNumericOrderOfTheirList) {
    std::initializer_list<Pt> points = {{400, 1}, {410, 1}, {420, 1}, {430, 1}, {440, 1}, {450, 1}, {460, 1},
                                        {470, 1}, {480, 1}, {490, 1}, {500, 1}, {510, 1}, {520, 1}};
    const OpticalFilterSpectrum s = load(spectrum(points));
    ASSERT_EQ(s.points.size(), points.size());
    for (std::size_t k = 0; k < s.points.size(); ++k)
        EXPECT_EQ(s.points[k].dWavelength, 400.0 + 10.0 * k) << "point " << k;
    EXPECT_FALSE(s.bPoints);

    // Unnamed items and names with leading zeros or without a number keep a numeric, then plain order.
    const json mixed = {{"pPoint_dic",
                         {{"Point10_dic", {{"dWavelength_dbl", 3}}},
                          {"Point007_dic", {{"dWavelength_dbl", 2}}},
                          {"Point_dic", {{"dWavelength_dbl", 1}}},
                          {"i0000000000_dic", {{"dWavelength_dbl", 5}}},
                          {"Point99999999999999999999999_dic", {{"dWavelength_dbl", 4}}}}}};
    std::vector<double> order;
    for (const auto& p : load(mixed).points)
        order.push_back(p.dWavelength);
    EXPECT_EQ(order, (std::vector<double>{1, 2, 3, 4, 5}));
}

TEST(OpticalFilterSpectrum, LoadDefaultsAndErrors) {
    const OpticalFilterSpectrum defaults =
        load({{"bPoints_bol", true}, {"pPoint_dic", {{"Point0_dic", json::object()}}}});
    ASSERT_EQ(defaults.points.size(), 1u);
    EXPECT_TRUE(defaults.bPoints);
    EXPECT_EQ(defaults.points[0].dWavelength, 0.0);
    EXPECT_EQ(defaults.points[0].dTValue, 0.0);
    EXPECT_EQ(defaults.points[0].eType, 0u);
    EXPECT_TRUE(load(json::object()).points.empty());

    // A bad spectrum leaves no points from the one loaded before.
    struct Bad {
        const char* what;
        json spectrum;
        int id;
    };
    const Bad bad[] = {
        {"not an object", json::array({1, 2}), 306},
        {"null", json(), 306},
        {"point not an object", {{"pPoint_dic", {{"Point0_dic", 5}}}}, 306},
        {"wavelength as text", {{"pPoint_dic", {{"Point0_dic", {{"dWavelength_dbl", "500"}}}}}}, 302},
        {"flag as number", {{"bPoints_bol", 1}}, 302}};
    for (const Bad& b : bad) {
        OpticalFilterSpectrum s = load(spectrum({{500, 2}, {550, 3}}));
        try {
            s.loadFromJson(b.spectrum);
            ADD_FAILURE() << b.what << ": nothing thrown";
        } catch (const json::exception& e) {
            EXPECT_EQ(e.id, b.id) << b.what;
        }
        EXPECT_TRUE(s.points.empty()) << b.what;
    }
}

TEST(OpticalFilterSpectrum, CombineOverFilterShapes) {
    using Edges = std::vector<std::pair<double, std::uint32_t>>;
    struct Case {
        const char* shapes;
        json a;
        json b;
        Edges expected;
    };
    const Case cases[] = {
        {"overlapping bands",
         spectrum({{400, 2}, {500, 3}}),
         spectrum({{450, 2}, {550, 3}}),
         {{450, 2}, {500, 3}}},
        {"band inside a band",
         spectrum({{400, 2}, {600, 3}}),
         spectrum({{450, 2}, {550, 3}}),
         {{450, 2}, {550, 3}}},
        {"disjoint bands: the gap is closed",
         spectrum({{400, 2}, {450, 3}}),
         spectrum({{500, 2}, {550, 3}}),
         {{499, 2}, {500, 3}}},
        {"disjoint bands the other way round",
         spectrum({{500, 2}, {550, 3}}),
         spectrum({{400, 2}, {450, 3}}),
         {{499, 2}, {500, 3}}},
        {"line inside a band", spectrum({{488, 4}}), spectrum({{450, 2}, {500, 3}}), {{488, 4}}},
        {"bands touching at one wavelength",
         spectrum({{400, 2}, {500, 3}}),
         spectrum({{500, 2}, {600, 3}}),
         {{500, 2}, {500, 3}}},
        {"nearest of two gaps is closed",
         spectrum({{400, 2}, {450, 3}}),
         spectrum({{470, 2}, {480, 3}, {520, 2}, {530, 3}}),
         {{469, 2}, {470, 3}}},
        {"into an empty spectrum", spectrum({}), spectrum({{450, 2}, {550, 3}}), {{450, 2}, {550, 3}}},
        {"with an empty spectrum", spectrum({{450, 2}, {550, 3}}), spectrum({}), {{450, 2}, {550, 3}}},
    };
    for (const Case& c : cases) {
        OpticalFilterSpectrum a = load(c.a);
        a.combine(load(c.b));
        EXPECT_EQ(edges(a), c.expected) << c.shapes;
    }

    // An empty spectrum becomes a copy of the other one, curve flag included.
    OpticalFilterSpectrum empty;
    empty.combine(load(spectrum({{500, 1, 0.2}, {510, 1, 0.9}}, true)));
    EXPECT_TRUE(empty.bPoints);
    EXPECT_EQ(empty.points.size(), 2u);
}

TEST(OpticalFilterSpectrum, OnePassMeasuresTheGapAndLeavesDisjointSpectraAlone) {
    const OpticalFilterSpectrum a = load(spectrum({{400, 2}, {450, 3}}));
    OpticalFilterSpectrum pass = a;
    double gap = -1.0;
    pass.combine(load(spectrum({{480, 2}, {490, 3}, {520, 2}, {600, 3}})), 0.0, &gap);
    EXPECT_EQ(gap, 30.0);
    EXPECT_EQ(edges(pass), edges(a));

    gap = -1.0;
    pass.combine(load(spectrum({{420, 2}, {600, 3}})), 0.0, &gap);
    EXPECT_EQ(gap, 0.0);
    EXPECT_EQ(edges(pass), (std::vector<std::pair<double, std::uint32_t>>{{420, 2}, {450, 3}}));

    OpticalFilterSpectrum empty;
    gap = -1.0;
    empty.combine(a, 0.0, &gap);
    EXPECT_EQ(gap, 0.0);
}

} // namespace
