#include <metadata/JsonBridge.h>
#include <metadata/detail/CheckedReads.h>

#include <algorithm>
#include <string_view>

namespace Zan {
namespace JsonMetadata {

namespace {

using Point = OpticalFilterSpectrum::SpectrumPoint;

// The width of the gap from an upper edge up to a lower edge above it; 0 when the pair is no such gap.
double gapBetween(const Point& upper, const Point& lower) {
    if (upper.dWavelength < lower.dWavelength && upper.isUpperEdge() && lower.isLowerEdge())
        return lower.dWavelength - upper.dWavelength;
    return 0.0;
}

// A member name split into its stem and the decimal number that ends it ("Point12_dic": "Point", "12").
struct NumberedName {
    std::string_view stem;
    std::string_view digits; // without leading zeros
};

NumberedName numberedName(std::string_view key) {
    const auto underscore = key.rfind('_');
    const std::string_view name = underscore == std::string_view::npos ? key : key.substr(0, underscore);
    std::size_t start = name.size();
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9')
        --start;
    std::string_view digits = name.substr(start);
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    return {name.substr(0, start), digits};
}

// The numeric order of a legacy list: Point2 before Point10. Numbers of any length compare without being
// converted; equal names fall back to the plain key order.
bool beforeInListOrder(const std::string& a, const std::string& b) {
    const NumberedName x = numberedName(a);
    const NumberedName y = numberedName(b);
    if (x.stem != y.stem)
        return x.stem < y.stem;
    if (x.digits.size() != y.digits.size())
        return x.digits.size() < y.digits.size();
    if (x.digits != y.digits)
        return x.digits < y.digits;
    return a < b;
}

const json::json_pointer kPoints{"/bPoints_bol"};
const json::json_pointer kTValue{"/dTValue_dbl"};
const json::json_pointer kWavelength{"/dWavelength_dbl"};
const json::json_pointer kType{"/eType_u32"};

// The fallback of singleWavelength: a single point, or the transmission-weighted mean to the nearest
// whole nanometre.
double weightedWavelength(const std::vector<Point>& p) {
    if (p.empty())
        return 0.0;
    if (p.size() == 1)
        return p[0].dWavelength;
    double sum = 0.0;
    double weighted = 0.0;
    for (const Point& q : p) {
        sum += q.dTValue;
        weighted += q.dWavelength * q.dTValue;
    }
    if (!(sum > 0.0))
        return 0.0;
    // The stored form is an unsigned 32-bit count of nanometres; a mean outside it (or NaN from a damaged
    // curve) saturates instead of reaching an undefined cast.
    return static_cast<double>(jsonToUint32(json(weighted / sum + 0.5)));
}

} // namespace

void OpticalFilterSpectrum::loadFromJson(const json& spectrum) {
    points.clear();
    bPoints = detail::readBool(spectrum, kPoints, false);
    const json* list = detail::member(spectrum, "pPoint_dic");
    if (!list)
        return;
    std::vector<std::pair<std::string, const json*>> items;
    if (list->is_object()) {
        items.reserve(list->size());
        for (auto it = list->begin(); it != list->end(); ++it)
            items.emplace_back(it.key(), &*it);
        std::sort(items.begin(), items.end(),
                  [](const auto& x, const auto& y) { return beforeInListOrder(x.first, y.first); });
    } else {
        // Not a list from a file: each element (or the value itself) must still be a point object.
        for (const json& item : *list)
            items.emplace_back(std::string(), &item);
    }
    std::vector<Point> loaded;
    loaded.reserve(items.size());
    for (const auto& item : items)
        loaded.push_back({detail::readDouble(*item.second, kTValue, 0.0),
                          detail::readDouble(*item.second, kWavelength, 0.0),
                          detail::readUint32(*item.second, kType, 0)});
    points = std::move(loaded);
}

double OpticalFilterSpectrum::singleWavelength() const {
    const std::size_t n = points.size();
    if (n == 0)
        return 0.0;
    if (!bPoints) {
        for (std::size_t i = 0; i < n;) {
            const Point& p = points[i];
            if (p.eType == 2) {
                if (i + 1 < n && points[i + 1].eType == 3)
                    return (p.dWavelength + points[i + 1].dWavelength) / 2.0;
                i += 2; // the point after an opening edge is consumed, closing or not
                continue;
            }
            if (p.eType == 4)
                return p.dWavelength;
            ++i;
        }
        return weightedWavelength(points);
    }
    std::size_t peak = 0;
    for (std::size_t i = 1; i < n; ++i)
        if (points[i].dTValue > points[peak].dTValue)
            peak = i;
    const double top = points[peak].dTValue;
    std::size_t hi = peak;
    while (hi + 1 < n && points[hi + 1].dTValue == top)
        ++hi;
    const double half = top / 2.0;
    const auto below = [half](const Point& p) { return p.dTValue < half; };
    const bool fallsRight =
        std::any_of(points.begin() + static_cast<std::ptrdiff_t>(hi), points.end(), below);
    const bool fallsLeft =
        std::any_of(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(peak) + 1, below);
    if (fallsRight && fallsLeft)
        return (points[peak].dWavelength + points[hi].dWavelength) / 2.0;
    return weightedWavelength(points);
}

void OpticalFilterSpectrum::combine(OpticalFilterSpectrum other, double shift, double* gap) {
    if (points.empty()) {
        *this = std::move(other);
        if (gap)
            *gap = 0.0;
        return;
    }
    if (other.points.empty())
        return;
    // The pass moves edges of both operands; this one stays as it was unless the result replaces it.
    std::vector<Point> a = points;
    std::vector<Point>& b = other.points;
    std::vector<Point> result;
    std::size_t i = 0;
    std::size_t j = 0;
    bool inA = a[0].eType == 3;
    bool inB = b[0].eType == 3;
    while (i < a.size() && j < b.size()) {
        Point& pa = a[i];
        Point& pb = b[j];
        if (gap) {
            for (const double g : {gapBetween(pa, pb), gapBetween(pb, pa)})
                if (g > 0.0 && (g < *gap || *gap < 0.0))
                    *gap = g;
        }
        if (shift > 0.0) {
            // Close a gap of at most shift by moving the lower edge just below the upper one.
            if (const double g = gapBetween(pa, pb); g > 0.0 && g <= shift)
                pb.dWavelength = pa.dWavelength - dWlEps;
            if (const double g = gapBetween(pb, pa); g > 0.0 && g <= shift)
                pa.dWavelength = pb.dWavelength - dWlEps;
        }
        const bool takeA =
            pa.dWavelength < pb.dWavelength || (pa.dWavelength == pb.dWavelength && pb.eType == 3);
        Point c = takeA ? pa : pb;
        bool& own = takeA ? inA : inB;
        const bool inOther = takeA ? inB : inA;
        std::size_t& index = takeA ? i : j;
        const std::size_t ownCount = takeA ? a.size() : b.size();
        if (inOther) {
            if (shift > 0.0)
                c.dWavelength += shift;
            if (c.eType >= 1 && c.eType <= 4) {
                result.push_back(c);
                if (gap)
                    *gap = 0.0;
            }
        }
        if (c.eType == 2)
            own = true;
        else if (c.eType == 3)
            own = false;
        else if (c.eType == 1)
            own = index + 1 < ownCount;
        ++index;
    }
    if (!gap || *gap == 0.0) {
        points = std::move(result);
        bPoints = false;
    }
}

void OpticalFilterSpectrum::combine(const OpticalFilterSpectrum& other) {
    double gap = -1.0;
    OpticalFilterSpectrum trial = *this;
    trial.combine(other, 0.0, &gap);
    if (gap <= 0.0) {
        *this = std::move(trial);
        return;
    }
    combine(other, gap, nullptr);
}

} // namespace JsonMetadata
} // namespace Zan
