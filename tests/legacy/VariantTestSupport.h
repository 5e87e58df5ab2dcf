#pragma once

#include <legacy/CVkVariant.h>
#include <legacy/VkDiagnostics.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace varianttest {

// The diagnostics that f prints.
inline std::string Diag(const std::function<void()>& f) {
    ZanLegacy::CVkDiagnosticCapture capture;
    f();
    return capture.Text();
}

inline std::string U8(const ZanLegacy::CVkStringW& s) {
    return s.GetUtf8();
}

inline std::string RunTypeOf(const ZanLegacy::CVkVariant& v) {
    return v.GetRunType().GetName().GetString();
}

inline ZanLegacy::CVkByteArray Bytes(std::initializer_list<unsigned char> bytes) {
    const std::basic_string<unsigned char> b(bytes);
    return ZanLegacy::CVkByteArray(b.data(), static_cast<unsigned long>(b.size()), 16);
}

// A plain list named name holding the members.
inline ZanLegacy::CVkVariant List(const wchar_t* name, std::initializer_list<ZanLegacy::CVkVariant> members) {
    return ZanLegacy::CVkVariant::CreateStruct(name, members);
}

// A random tree of every kind, records included, with names and texts that need escaping.
class RandomTree {
public:
    explicit RandomTree(unsigned seed) : m_random(seed) {}

    ZanLegacy::CVkVariant make(int depth) {
        ZanLegacy::CVkVariant list =
            ZanLegacy::CVkVariant::CreateStruct(name(), std::initializer_list<ZanLegacy::CVkVariant>{});
        const int count = pick(0, depth > 0 ? 8 : 0);
        for (int i = 0; i < count; ++i)
            list.Append(member(depth - 1));
        return list;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

    ZanLegacy::CVkStringW name() {
        static const wchar_t* names[] = {L"a", L"b",     L"value",   L"x",
                                         L"y", L"dGain", L"no_name", L"long.name-1"};
        return names[pick(0, 7)];
    }

    ZanLegacy::CVkStringW string() {
        static const wchar_t pieces[] = L"ab <>&\"\r\n\t#;x\x01\u00e9\u20ac\U0001F600";
        std::wstring s;
        const int n = pick(0, 12);
        for (int i = 0; i < n; ++i)
            s += pieces[pick(0, static_cast<int>(sizeof(pieces) / sizeof(wchar_t)) - 2)];
        if (pick(0, 5) == 0)
            s += L"&#x0026;";
        return ZanLegacy::CVkStringW(s.c_str());
    }

    ZanLegacy::CVkVariant member(int depth) {
        switch (pick(0, 12)) {
        case 0:
            return ZanLegacy::CVkVariant(pick(-100000, 100000), name());
        case 1:
            return ZanLegacy::CVkVariant(static_cast<unsigned int>(m_random()), name());
        case 2:
            return ZanLegacy::CVkVariant(-static_cast<long>(m_random()) * 1234567, name());
        case 3:
            return ZanLegacy::CVkVariant(static_cast<unsigned long>(m_random()) << 32 | m_random(), name());
        case 4:
            return ZanLegacy::CVkVariant(std::uniform_real_distribution<double>(-1e6, 1e6)(m_random), name());
        case 5:
            return ZanLegacy::CVkVariant(std::ldexp(static_cast<double>(m_random()), pick(-1070, 1000)),
                                         name());
        case 6:
            return ZanLegacy::CVkVariant(pick(0, 1) == 1, name());
        case 7:
            return ZanLegacy::CVkVariant(string(), name());
        case 8: {
            std::vector<unsigned char> bytes(static_cast<std::size_t>(pick(0, 20)));
            for (auto& b : bytes)
                b = static_cast<unsigned char>(m_random());
            return ZanLegacy::CVkVariant(
                ZanLegacy::CVkByteArray(bytes.data(), static_cast<unsigned long>(bytes.size()), 16), name());
        }
        case 9: {
            ZanLegacy::CVkVariant none;
            none.SetName(name());
            return none;
        }
        case 10: {
            static const char* types[] = {"RVkIPoint", "RVkCameraSetting", "RVkExperiment.RVkExpTimeLoop"};
            ZanLegacy::CVkVariant record(ZanLegacy::CVkVariantRunType(types[pick(0, 2)]), name());
            for (int i = pick(0, 3); i > 0; --i)
                fillRandomMember(*record.IndexPtr(pick(0, record.GetCount() - 1)));
            return record;
        }
        default:
            return depth > 0 ? make(depth) : ZanLegacy::CVkVariant(1, name());
        }
    }

    void fillRandomMember(ZanLegacy::CVkVariant& m) {
        const std::string rt = m.GetRunType().GetName().GetString();
        if (rt == "vk_int32")
            m = pick(-5, 5);
        else if (rt == "vk_uint32")
            m = static_cast<unsigned int>(m_random());
        else if (rt == "double")
            m = std::uniform_real_distribution<double>(-10, 10)(m_random);
        else if (rt == "CVkStringW")
            m = string();
        else if (rt == "CVkListVariant")
            m.Append(ZanLegacy::CVkVariant(string(), name()));
    }

    std::mt19937 m_random;
};

} // namespace varianttest
