#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>

#include <cmath>

namespace Zan {
namespace JsonMetadata {

namespace {

using Point = OpticalFilterSpectrum::SpectrumPoint;

const json::json_pointer kCompCount{"/uiCompCount_u32"};
const json::json_pointer kPlacement{"/m_ePlacement_u32"};
const json::json_pointer kCount{"/uiCount_u32"};
const json::json_pointer kFirstWavelength{"/pPoint_dic/Point0_dic/dWavelength_dbl"};

constexpr const char* kProbe = "pFluorescentProbe_dic";
constexpr const char* kPath = "pFilterPath_dic";
constexpr const char* kFilters = "m_pFilter_dic";
constexpr const char* kExcitation = "m_ExcitationSpectrum_dic";
constexpr const char* kEmission = "m_EmissionSpectrum_dic";

// Emission of the red, green and blue planes of a colour image.
constexpr double kColourEmission[3] = {420.0, 515.0, 590.0};

OpticalFilterSpectrum loadSpectrum(const json& spectrum) {
    OpticalFilterSpectrum s;
    s.loadFromJson(spectrum);
    return s;
}

// Single wavelength of the spectrum key of holder, 0.0 when the holder lacks it.
double singleWavelengthOf(const json& holder, const char* key) {
    const json* spectrum = detail::member(holder, key);
    return spectrum ? loadSpectrum(*spectrum).singleWavelength() : 0.0;
}

// Centre of a spectrum whose outer edges are widened by one step each; a curve is not widened.
double widenedCentre(const OpticalFilterSpectrum& s) {
    double first = s.points.front().dWavelength;
    double last = s.points.back().dWavelength;
    if (!s.bPoints) {
        if (s.points.front().isLowerEdge())
            first -= OpticalFilterSpectrum::dWlEps;
        if (s.points.back().isUpperEdge())
            last += OpticalFilterSpectrum::dWlEps;
    }
    return (first + last) / 2.0;
}

// The filters of a light path in key order; empty without a filter list.
const json& filtersOf(const json& path) {
    static const json none;
    const json* filters = detail::member(path, kFilters);
    return filters ? *filters : none;
}

struct PlacedSpectrum {
    std::uint32_t placement;
    OpticalFilterSpectrum spectrum;
};

// A band given by two points: its middle when they open and close it, the first when both are lines of
// the 4/5 form. Returns false for any other pair.
bool twoPointBand(const OpticalFilterSpectrum& s, double& result) {
    const Point& p0 = s.points[0];
    const Point& p1 = s.points[1];
    if (p0.eType == 2 && p1.eType == 3) {
        result = (p0.dWavelength + p1.dWavelength) / 2.0;
        return true;
    }
    if (p0.eType == 4 && p1.eType == 5) {
        result = p0.dWavelength;
        return true;
    }
    return false;
}

// The emission rules that look at one filter at a time, in their order of preference: a filter of the
// placement with exactly that many points. One point gives its wavelength (for a cube only when its
// widened centre is positive), two points a band.
bool emissionFromOneFilter(const std::vector<PlacedSpectrum>& emissions, double& result) {
    struct Rule {
        std::uint32_t placement;
        std::size_t count;
    };
    constexpr Rule rules[] = {{PlacementChannel, 1},
                              {PlacementEmission, 1},
                              {PlacementEmission, 2},
                              {PlacementCube, 1},
                              {PlacementCube, 2}};
    for (const Rule& rule : rules)
        for (const PlacedSpectrum& f : emissions) {
            const OpticalFilterSpectrum& s = f.spectrum;
            if (f.placement != rule.placement || s.points.size() != rule.count)
                continue;
            if (rule.count == 2) {
                if (twoPointBand(s, result))
                    return true;
            } else if (rule.placement != PlacementCube || widenedCentre(s) > 0.0) {
                result = s.points[0].dWavelength;
                return true;
            }
        }
    return false;
}

// Emission of the intersected spectra when no rule fits: only the emission M, or the first lower edge of
// M above the first upper edge of the excitation X.
double emissionFromIntersection(const OpticalFilterSpectrum& x, const OpticalFilterSpectrum& m) {
    const std::vector<Point>& mp = m.points;
    const auto emissionOnly = [&mp]() {
        if (mp.empty())
            return 0.0;
        if (mp[0].eType == 1 || mp[0].eType == 4)
            return mp[0].dWavelength;
        if (mp.size() == 1)
            return 0.0;
        return (mp[0].dWavelength + mp[1].dWavelength) / 2.0;
    };
    const Point* edge = nullptr;
    for (const Point& p : x.points)
        if (p.isUpperEdge()) {
            edge = &p;
            break;
        }
    if (!edge)
        return emissionOnly();
    for (std::size_t k = 0; k < mp.size(); ++k) {
        const Point& p = mp[k];
        if (!p.isLowerEdge() || !(p.dWavelength > edge->dWavelength))
            continue;
        if (p.eType == 4 || k + 1 == mp.size())
            return p.dWavelength;
        return (p.dWavelength + mp[k + 1].dWavelength) / 2.0;
    }
    return emissionOnly();
}

} // namespace

double meanEmissionWavelength(const json& path) {
    const json& filters = filtersOf(path);
    std::vector<PlacedSpectrum> emissions;
    for (const json& filter : filters) {
        const std::uint32_t placement = detail::readUint32(filter, kPlacement, PlacementNone);
        if (const json* spectrum = detail::member(filter, kEmission))
            emissions.push_back({placement, loadSpectrum(*spectrum)});
    }
    double result = 0.0;
    if (emissionFromOneFilter(emissions, result))
        return result;

    std::vector<OpticalFilterSpectrum> excitations;
    for (const json& filter : filters)
        if (const json* spectrum = detail::member(filter, kExcitation))
            excitations.push_back(loadSpectrum(*spectrum));
    // Pairs by position in the two collections, which need not be the same filter.
    OpticalFilterSpectrum x;
    OpticalFilterSpectrum m;
    for (std::size_t k = 0; k < emissions.size(); ++k) {
        if (k < excitations.size() && !excitations[k].points.empty())
            x.combine(excitations[k]);
        const OpticalFilterSpectrum& em = emissions[k].spectrum;
        if (!em.points.empty() && widenedCentre(em) > 0.0)
            m.combine(em);
    }
    return emissionFromIntersection(x, m);
}

double closestExcitationWavelength(double emission, const json& path) {
    const json& filters = filtersOf(path);
    for (const json& filter : filters) {
        if (detail::readUint32(filter, kPlacement, PlacementNone) != PlacementChannel)
            continue;
        const json* spectrum = detail::member(filter, kExcitation);
        if (spectrum && detail::readUint32(*spectrum, kCount, 0) == 1)
            return detail::readDouble(*spectrum, kFirstWavelength, 0.0);
    }
    double best = 0.0;
    double bestCost = 1e300;
    const auto consider = [&](double candidate) {
        // An excitation longer than the emission is possible only in odd set-ups: it loses to any other.
        const double cost = std::fabs(candidate - emission) + (candidate > emission ? 10000.0 : 0.0);
        if (cost < bestCost) {
            bestCost = cost;
            best = candidate;
        }
    };
    for (const json& filter : filters) {
        const std::uint32_t placement = detail::readUint32(filter, kPlacement, PlacementNone);
        if (placement != PlacementExcitation && placement != PlacementCube && placement != PlacementSource)
            continue;
        const json* spectrum = detail::member(filter, kExcitation);
        if (!spectrum)
            continue;
        const OpticalFilterSpectrum x = loadSpectrum(*spectrum);
        if (x.points.empty())
            continue;
        if (x.points[0].eType == 2) {
            if (x.points.size() == 2)
                consider((x.points[0].dWavelength + x.points[1].dWavelength) / 2.0);
        } else if (x.points[0].eType == 4) {
            for (const Point& p : x.points)
                consider(p.dWavelength);
        }
    }
    return best;
}

void readWavelengths(json& channel, const json& plane, std::uint32_t index) {
    double excitation = 0.0;
    double emission = 0.0;
    const json* probe = detail::member(plane, kProbe);
    const json* path = detail::member(plane, kPath);
    if (detail::readInt32(plane, kCompCount, 1) != 3) {
        if (probe) {
            excitation = singleWavelengthOf(*probe, kExcitation);
            emission = singleWavelengthOf(*probe, kEmission);
        }
        if (emission == 0.0 && path)
            emission = meanEmissionWavelength(*path);
        if (excitation == 0.0 && path)
            excitation = closestExcitationWavelength(emission, *path);
    } else {
        emission = index < 3 ? kColourEmission[index] : 0.0;
        if (probe)
            excitation = singleWavelengthOf(*probe, kExcitation);
        if (excitation == 0.0 && path)
            excitation = closestExcitationWavelength(emission, *path);
        if (excitation == 0.0)
            excitation = emission;
    }
    if (emission > 0.0)
        channel["emissionLambdaNm"] = emission;
    if (excitation > 0.0)
        channel["excitationLambdaNm"] = excitation;
}

} // namespace JsonMetadata
} // namespace Zan
