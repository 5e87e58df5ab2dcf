#pragma once

// Part of the JSON metadata bridge; include <metadata/JsonBridge.h>.
//
// Optical filter spectra, channel wavelengths and the channel metadata document. All functions are pure:
// they read their arguments only, keep no state and may run on any thread. Values of the wrong JSON kind
// raise the JSON library's errors; the document builder adds std::runtime_error for files it cannot use.

#include <metadata/JsonBridgeCore.h>

#include <cstdint>
#include <vector>

namespace Zan {
namespace JsonMetadata {

// Where a filter sits in the light path ("m_ePlacement_u32"), as the wavelength rules use it.
enum OpticalFilterPlacement : std::uint32_t {
    PlacementNone = 0,
    PlacementExcitation = 1, // excitation side: its excitation spectrum is a candidate
    PlacementEmission = 2,   // emission side: its emission spectrum is preferred
    PlacementCube = 3,       // filter cube: excitation and emission
    PlacementSource = 4,     // light source: its excitation lines are candidates
    PlacementChannel = 6     // a single-line channel setting: preferred over every other filter
};

// One legacy spectrum record: a transmission curve (bPoints) or a list of band edges and lines.
class ZAN_EXPORT OpticalFilterSpectrum {
public:
    struct SpectrumPoint {
        double dTValue = 0.0;     // transmission
        double dWavelength = 0.0; // nanometres
        // 2 opens a band, 3 closes one, 4 is a single line (both); 1 and 5 as the rules state.
        std::uint32_t eType = 0;

        bool isLowerEdge() const { return eType == 2 || eType == 4; }
        bool isUpperEdge() const { return eType == 3 || eType == 4; }
    };

    // Wavelength step with which edges are widened and separated.
    static constexpr double dWlEps = 1.0;

    bool bPoints = false;
    std::vector<SpectrumPoint> points;

    // Replaces the content from a spectrum object of the raw-metadata document ("bPoints_bol",
    // "pPoint_dic"). Points go in the numeric order of their names (Point2 before Point10).
    void loadFromJson(const json& spectrum);
    // The representative wavelength, 0.0 when there is none.
    double singleWavelength() const;
    // Replaces the content by the light that passes both spectra; when they do not overlap, the nearest
    // gap is closed first so that the result still marks where they meet.
    void combine(const OpticalFilterSpectrum& other);
    // One intersection pass: gap receives the narrowest gap between an upper and a following lower edge
    // (0 once a point was taken), and lower edges at most shift above an upper edge are moved below it.
    void combine(OpticalFilterSpectrum other, double shift, double* gap);
};

// Writes "emissionLambdaNm" and "excitationLambdaNm" into a channel object when they can be derived from
// the plane description; index is the plane's position, which picks the colour of a three-component plane.
ZAN_EXPORT void readWavelengths(json& channel, const json& plane, std::uint32_t index);
// Emission wavelength of a light path ("pFilterPath_dic"), 0.0 when none.
ZAN_EXPORT double meanEmissionWavelength(const json& path);
// Excitation wavelength of a light path that best fits an emission wavelength, 0.0 when none.
ZAN_EXPORT double closestExcitationWavelength(double emission, const json& path);

// The channel metadata document: contents with the channel count, and per channel its name, colour,
// wavelengths, loops, microscope and volume. global is the global metadata document; minima and maxima
// hold the component ranges of all channels in channel order (either may be empty).
// Throws std::runtime_error "Cannot parse image attributes" or "Wrong component count", and
// "metadata: <what>: nested deeper than 256 levels" for a part it reads (Attributes_dic, Metadata_dic,
// global) nested deeper.
ZAN_EXPORT json metadata(const json& raw, const json& global, const std::vector<float>& minima,
                         const std::vector<float>& maxima);

} // namespace JsonMetadata
} // namespace Zan
