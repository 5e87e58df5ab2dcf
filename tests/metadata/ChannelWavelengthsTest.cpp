#include "ChannelDocuments.h"

#include <gtest/gtest.h>

using namespace channel_docs;
using namespace Zan::JsonMetadata;

namespace {

const json none; // a spectrum left out

TEST(ChannelWavelengths, EmissionOfALightPath) {
    struct Case {
        const char* path;
        json lightPath;
        double expected;
    };
    const Case cases[] = {
        {"emission filter, one point", path({filter(2, none, spectrum({{610, 1}}))}), 610.0},
        {"channel setting wins over an earlier emission filter",
         path({filter(2, none, spectrum({{610, 1}})), filter(6, none, spectrum({{700, 1}}))}), 700.0},
        {"first of two emission filters",
         path({filter(2, none, spectrum({{610, 1}})), filter(2, none, spectrum({{520, 1}}))}), 610.0},
        {"emission band", path({filter(2, none, spectrum({{500, 2}, {550, 3}}))}), 525.0},
        {"emission line pair", path({filter(2, none, spectrum({{600, 4}, {610, 5}}))}), 600.0},
        {"emission one point beats emission two points",
         path({filter(2, none, spectrum({{500, 2}, {550, 3}})), filter(2, none, spectrum({{640, 4}}))}),
         640.0},
        {"cube, one line", path({filter(3, none, spectrum({{520, 4}}))}), 520.0},
        {"cube band", path({filter(3, none, spectrum({{500, 2}, {540, 3}}))}), 520.0},
        {"emission filter beats cube",
         path({filter(3, none, spectrum({{520, 4}})), filter(2, none, spectrum({{600, 1}}))}), 600.0},
        {"unmatched pair falls to the emission-only rule",
         path({filter(2, none, spectrum({{500, 1}, {550, 3}}))}), 500.0},
        {"cube whose widened centre is not positive", path({filter(3, none, spectrum({{-5, 2}}))}), 0.0},
        {"intersection: lower emission edge above the excitation",
         path({filter(4, spectrum({{450, 2}, {490, 3}}), spectrum({{500, 2}, {550, 3}}))}), 525.0},
        {"intersection of two emission spectra",
         path({filter(4, spectrum({{470, 2}, {490, 3}}), spectrum({{500, 2}, {600, 3}})),
               filter(1, none, spectrum({{520, 2}, {560, 3}, {580, 1}}))}),
         540.0},
        {"intersection: emission line above the excitation",
         path({filter(4, spectrum({{450, 2}, {490, 3}}), spectrum({{400, 2}, {420, 3}, {515, 4}}))}), 515.0},
        {"intersection: emission opening edge last",
         path({filter(4, spectrum({{450, 2}, {490, 3}}), spectrum({{400, 2}, {420, 3}, {530, 2}}))}), 530.0},
        {"excitation without an upper edge: emission only",
         path({filter(4, spectrum({{480, 2}}), spectrum({{500, 2}, {560, 3}}))}), 530.0},
        {"no emission edge above the excitation: emission only",
         path({filter(4, spectrum({{600, 2}, {650, 3}}), spectrum({{500, 2}, {560, 3}}))}), 530.0},
        {"one-point emission of another kind", path({filter(4, none, spectrum({{500, 2}}))}), 0.0},
        {"filters without emission", path({filter(1, spectrum({{488, 4}}), none)}), 0.0},
        {"no filter list", json::object(), 0.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(meanEmissionWavelength(c.lightPath), c.expected) << c.path;
}

TEST(ChannelWavelengths, ExcitationClosestToTheEmission) {
    struct Case {
        const char* path;
        double emission;
        json lightPath;
        double expected;
    };
    const json lines = spectrum({{405, 4}, {488, 4}, {561, 4}});
    const Case cases[] = {
        {"laser lines: longer ones are penalised", 520, path({filter(3, lines, none)}), 488.0},
        {"laser lines in separate filters", 520,
         path({filter(3, spectrum({{405, 4}}), none), filter(4, spectrum({{561, 4}}), none),
               filter(1, spectrum({{488, 4}}), none)}),
         488.0},
        {"all lines above the emission: the nearest", 450,
         path({filter(3, spectrum({{561, 4}, {488, 4}}), none)}), 488.0},
        {"channel setting regardless of the emission", 400,
         path({filter(3, lines, none), filter(6, spectrum({{640, 4}}), none)}), 640.0},
        {"channel setting with more points is passed over", 520,
         path({filter(6, spectrum({{640, 4}, {650, 4}}), none), filter(3, lines, none)}), 488.0},
        {"excitation band", 520, path({filter(1, spectrum({{470, 2}, {490, 3}}), none)}), 480.0},
        {"band of three points gives nothing", 520,
         path({filter(1, spectrum({{470, 2}, {480, 3}, {490, 3}}), none)}), 0.0},
        {"first point closing gives nothing", 520, path({filter(1, spectrum({{470, 3}, {490, 4}}), none)}),
         0.0},
        {"emission-side filters are not candidates", 520, path({filter(2, lines, none)}), 0.0},
        {"no emission known: the shortest line", 0, path({filter(3, lines, none)}), 405.0},
        {"no filter list", 520, json::object(), 0.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(closestExcitationWavelength(c.emission, c.lightPath), c.expected) << c.path;
}

TEST(ChannelWavelengths, ChannelsFromProbesFiltersAndColours) {
    struct Case {
        const char* plane;
        json description;
        std::uint32_t index;
        json expected; // the wavelength keys written into an empty channel
    };
    const json probeOnly = probe(spectrum({{488, 4}}), spectrum({{500, 2}, {550, 3}}));
    const json emissionPath = path({filter(2, none, spectrum({{610, 1}}))});
    const json cube =
        path({filter(3, spectrum({{405, 4}, {488, 4}, {561, 4}}), spectrum({{500, 2}, {540, 3}}))});
    const Case cases[] = {
        {"probe only",
         {{"pFluorescentProbe_dic", probeOnly}},
         0,
         {{"emissionLambdaNm", 525.0}, {"excitationLambdaNm", 488.0}}},
        {"probe without spectra, emission filter",
         {{"pFluorescentProbe_dic", probe(none, none)}, {"pFilterPath_dic", emissionPath}},
         0,
         {{"emissionLambdaNm", 610.0}}},
        {"filters only",
         {{"pFilterPath_dic", cube}},
         2,
         {{"emissionLambdaNm", 520.0}, {"excitationLambdaNm", 488.0}}},
        {"probe emission, filter excitation",
         {{"pFluorescentProbe_dic", probe(none, spectrum({{600, 4}}))}, {"pFilterPath_dic", cube}},
         0,
         {{"emissionLambdaNm", 600.0}, {"excitationLambdaNm", 561.0}}},
        {"neither probe nor path", {{"uiCompCount_u32", 1}}, 0, json()},
        {"red plane",
         {{"uiCompCount_u32", 3}},
         0,
         {{"emissionLambdaNm", 420.0}, {"excitationLambdaNm", 420.0}}},
        {"green plane",
         {{"uiCompCount_u32", 3}},
         1,
         {{"emissionLambdaNm", 515.0}, {"excitationLambdaNm", 515.0}}},
        {"blue plane",
         {{"uiCompCount_u32", 3}},
         2,
         {{"emissionLambdaNm", 590.0}, {"excitationLambdaNm", 590.0}}},
        {"fourth colour plane", {{"uiCompCount_u32", 3}}, 3, json()},
        {"colour plane with a probe excitation",
         {{"uiCompCount_u32", 3}, {"pFluorescentProbe_dic", probeOnly}},
         0,
         {{"emissionLambdaNm", 420.0}, {"excitationLambdaNm", 488.0}}},
        {"colour plane with excitation filters",
         {{"uiCompCount_u32", 3}, {"pFilterPath_dic", cube}},
         1,
         {{"emissionLambdaNm", 515.0}, {"excitationLambdaNm", 488.0}}},
        {"colour plane ignores the probe emission",
         {{"uiCompCount_u32", 3}, {"pFluorescentProbe_dic", probe(none, spectrum({{700, 4}}))}},
         2,
         {{"emissionLambdaNm", 590.0}, {"excitationLambdaNm", 590.0}}},
    };
    for (const Case& c : cases) {
        json channel;
        readWavelengths(channel, c.description, c.index);
        EXPECT_EQ(channel, c.expected) << c.plane;
    }
}

// Nothing in a damaged description may do more than raise the JSON library's error.
TEST(ChannelWavelengths, WrongKindsGiveOnlyTheLibrarysErrors) {
    const json good = spectrum({{488, 4}});
    const json cases[] = {
        5,
        json::array({1}),
        {{"uiCompCount_u32", "3"}},
        {{"pFluorescentProbe_dic", 7}},
        {{"pFluorescentProbe_dic", {{"m_EmissionSpectrum_dic", "x"}}}},
        {{"pFluorescentProbe_dic",
          {{"m_EmissionSpectrum_dic", {{"pPoint_dic", {{"Point0_dic", {{"eType_u32", "4"}}}}}}}}}},
        {{"pFilterPath_dic", 1}},
        {{"pFilterPath_dic", {{"m_pFilter_dic", 1}}}},
        {{"pFilterPath_dic", {{"m_pFilter_dic", {{"i0000000000_dic", json::array()}}}}}},
        {{"pFilterPath_dic", {{"m_pFilter_dic", {{"a", {{"m_ePlacement_u32", "2"}}}}}}}},
        {{"pFilterPath_dic",
          path({{{"m_ePlacement_u32", 6},
                 {"m_ExcitationSpectrum_dic", {{"uiCount_u32", 1}, {"pPoint_dic", 3}}}}})}},
        {{"pFilterPath_dic",
          path({{{"m_ePlacement_u32", 6},
                 {"m_ExcitationSpectrum_dic",
                  {{"uiCount_u32", 1}, {"pPoint_dic", {{"Point0_dic", {{"dWavelength_dbl", "x"}}}}}}}}})}},
        {{"pFilterPath_dic",
          path({{{"m_ePlacement_u32", 3}, {"m_EmissionSpectrum_dic", json::array({json::object(), 1})}}})}},
    };
    for (const json& plane : cases) {
        json channel;
        try {
            readWavelengths(channel, plane, 0);
        } catch (const json::exception&) {
        }
    }
    // Numbers of any size convert without undefined behaviour.
    json channel;
    readWavelengths(channel, {{"uiCompCount_u32", 1e300}, {"pFilterPath_dic", path({filter(2, none, good)})}},
                    0);
    EXPECT_EQ(channel["emissionLambdaNm"], 488.0);
    // A placement out of range is no placement the rules know: the emission comes from the intersection.
    json placement = path({filter(2, none, spectrum({{500, 2}, {550, 3}}))});
    placement["m_pFilter_dic"][item(0)]["m_ePlacement_u32"] = -1e300;
    EXPECT_EQ(meanEmissionWavelength(placement), 525.0);
}

} // namespace
