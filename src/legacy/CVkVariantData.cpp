#include <legacy/CVkVariantData.h>

#include <legacy/Base64Coder.h>
#include <legacy/CVkStringUtils.h>
#include <legacy/CVkVariant.h>
#include <legacy/VkDiagnostics.h>
#include <legacy/detail/VkFormat.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace ZanLegacy {

bool AlmostEqual(double a, double b, int ulps) {
    if (a == b)
        return true;
    const double scale = std::max(DBL_MIN, DBL_EPSILON * std::max(std::fabs(a), std::fabs(b)));
    return std::fabs(a - b) < ulps * scale;
}

CVkVariantData::~CVkVariantData() = default;

int CVkVariantData::SetRunType(const CVkVariantRunType& rt) {
    if (rt != GetRunType())
        VkPrintDiagnostic(L"Error: CVkVariantData::SetRunType(), can't set runtype!");
    return -9;
}

bool CVkVariantData::IsArray() const {
    return false;
}

namespace {

// Per kind: run-type name, message of a refused GetValueCopy, and the scanf format of the kinds that
// are read with one.
template <class T>
struct Kind;
template <>
struct Kind<int> {
    static constexpr const char* name = "vk_int32";
    static constexpr const wchar_t* copyError =
        L"Error: CVkVariantDataVk_int32::GetValueCopy(), incompatible types!";
    static constexpr const wchar_t* format = L"%d";
};
template <>
struct Kind<unsigned int> {
    static constexpr const char* name = "vk_uint32";
    static constexpr const wchar_t* copyError =
        L"Error: CVkVariantDataVk_uint32::GetValueCopy, incompatible types!";
    static constexpr const wchar_t* format = L"%u";
};
template <>
struct Kind<long> {
    static constexpr const char* name = "vk_int64";
    static constexpr const wchar_t* copyError =
        L"Error: CVkVariantDataVk_int64::GetValueCopy, incompatible types!";
    static constexpr const wchar_t* format = L"%lld";
    using Scan = long long;
};
template <>
struct Kind<unsigned long> {
    static constexpr const char* name = "vk_uint64";
    static constexpr const wchar_t* copyError =
        L"Error: CVkVariantDataVk_uint64::GetValueCopy, incompatible types!";
    static constexpr const wchar_t* format = L"%llu";
    using Scan = unsigned long long;
};
template <>
struct Kind<double> {
    static constexpr const char* name = "double";
    static constexpr const wchar_t* copyError =
        L"Error: CVkVariantDataDouble::GetValueCopy, incompatible types!";
};
template <>
struct Kind<bool> {
    static constexpr const char* name = "bool";
    static constexpr const wchar_t* copyError =
        L"Error: CVkVariantDataBool::GetValueCopy, incompatible types!";
};
template <>
struct Kind<void*> {
    static constexpr const char* name = "voidPtr";
    static constexpr const wchar_t* copyError =
        L"Error: CVkVariantVoidPtr::GetValueCopy, incompatible types!";
    static constexpr const wchar_t* format = L"%p";
};
template <>
struct Kind<CVkStringW> {
    static constexpr const char* name = "CVkStringW";
    static constexpr const wchar_t* copyError =
        L"Error: CVkVariantCVkStringW::GetValueCopy, incompatible types!";
};
template <>
struct Kind<CVkByteArray> {
    static constexpr const char* name = "CVkByteArray";
    static constexpr const wchar_t* copyError =
        L"Error: CVkVariantCVkByteAray::GetValueCopy, incompatible types!";
};

const wchar_t* textOf(const wchar_t* text) {
    return text ? text : L"";
}

} // namespace

template <class T>
CVkVariantDataT<T>::CVkVariantDataT() : m_value() {}

template <class T>
CVkVariantDataT<T>::CVkVariantDataT(const T& value) : m_value(value) {}

template <class T>
CVkVariantDataT<T>::~CVkVariantDataT() = default;

template <class T>
const CVkVariantRunType& CVkVariantDataT<T>::GetClassRunType() {
    static const CVkVariantRunType runType(Kind<T>::name);
    return runType;
}

template <class T>
int CVkVariantDataT<T>::Write(CVkStringW& text) const {
    if constexpr (std::is_same_v<T, CVkStringW>) {
        text = m_value;
    } else if constexpr (std::is_same_v<T, CVkByteArray>) {
        if (m_value.GetSize() == 0)
            return 0;
        Base64Coder coder;
        coder.Encode(m_value.GetData(), m_value.GetSize());
        unsigned int n = 0;
        const unsigned char* encoded = coder.EncodedBuffer(&n);
        const std::string ascii(reinterpret_cast<const char*>(encoded), encoded ? n : 0);
        text = ascii.c_str();
    } else if constexpr (std::is_same_v<T, bool>) {
        text = m_value ? L"true" : L"false";
    } else if constexpr (std::is_same_v<T, double>) {
        text.Format(L"%.15f", m_value);
    } else if constexpr (std::is_same_v<T, long> || std::is_same_v<T, unsigned long>) {
        text.Format(Kind<T>::format, static_cast<typename Kind<T>::Scan>(m_value));
    } else {
        text.Format(Kind<T>::format, m_value);
    }
    return 1;
}

template <class T>
int CVkVariantDataT<T>::Read(const CVkStringW& text) {
    if constexpr (std::is_same_v<T, CVkStringW>) {
        m_value = text;
        return 1;
    } else {
        const CVkStringW copy(text);
        return Read(copy.GetString());
    }
}

template <class T>
int CVkVariantDataT<T>::Read(const wchar_t* text) {
    text = textOf(text);
    if constexpr (std::is_same_v<T, CVkStringW>) {
        m_value = text;
    } else if constexpr (std::is_same_v<T, CVkByteArray>) {
        Base64Coder coder;
        coder.DecodeW(text);
        unsigned long n = 0;
        const unsigned char* bytes = coder.DecodedBuffer(&n);
        if (bytes && n > 0)
            m_value.SetData(bytes, n, CVkByteArray::eOpWriteAtStart, CVkByteArray::eAllocExact);
    } else if constexpr (std::is_same_v<T, bool>) {
        m_value = std::wcscmp(text, L"true") == 0;
    } else if constexpr (std::is_same_v<T, double>) {
        CVkStringA utf8;
        CVkStringUtils::WtoUTF8(text, utf8);
        const detail::ScopedCLocale cLocale;
        m_value = std::strtod(utf8.GetString(), nullptr);
    } else {
        // Number text must not depend on the process locale.
        const detail::ScopedCLocale cLocale;
        if constexpr (std::is_same_v<T, long> || std::is_same_v<T, unsigned long>) {
            typename Kind<T>::Scan value = m_value;
            if (std::swscanf(text, Kind<T>::format, &value) == 1)
                m_value = static_cast<T>(value);
        } else {
            T value = m_value;
            if (std::swscanf(text, Kind<T>::format, &value) == 1)
                m_value = value;
        }
    }
    return 1;
}

template <class T>
bool CVkVariantDataT<T>::Eq(const CVkVariantData& other) const {
    const auto* same = dynamic_cast<const CVkVariantDataT*>(&other);
    if (!same)
        return false;
    if constexpr (std::is_same_v<T, double>)
        return AlmostEqual(same->m_value, m_value, 3);
    else if constexpr (std::is_same_v<T, CVkStringW>)
        return m_value.Equals(same->m_value);
    else
        return m_value == same->m_value;
}

template <class T>
void CVkVariantDataT<T>::GetValueCopy(CVkVariantData& target) const {
    auto* same = dynamic_cast<CVkVariantDataT*>(&target);
    if (!same) {
        VkPrintDiagnostic(Kind<T>::copyError);
        return;
    }
    if (same != this)
        same->m_value = m_value;
}

template <class T>
CVkVariantData* CVkVariantDataT<T>::Clone() const {
    return new CVkVariantDataT();
}

template class CVkVariantDataT<int>;
template class CVkVariantDataT<unsigned int>;
template class CVkVariantDataT<long>;
template class CVkVariantDataT<unsigned long>;
template class CVkVariantDataT<double>;
template class CVkVariantDataT<bool>;
template class CVkVariantDataT<void*>;
template class CVkVariantDataT<CVkStringW>;
template class CVkVariantDataT<CVkByteArray>;

// List data.

CVkVariantDataCVkListVariant::CVkVariantDataCVkListVariant() : m_runType(GetOrigRunType()) {}

CVkVariantDataCVkListVariant::CVkVariantDataCVkListVariant(const CVkListVariant& members)
    : m_list(members), m_runType(GetOrigRunType()) {}

CVkVariantDataCVkListVariant::CVkVariantDataCVkListVariant(const CVkVariantRunType& rt) : m_runType(rt) {}

CVkVariantDataCVkListVariant::~CVkVariantDataCVkListVariant() = default;

const CVkVariantRunType& CVkVariantDataCVkListVariant::GetOrigRunType() {
    static const CVkVariantRunType runType("CVkListVariant");
    return runType;
}

int CVkVariantDataCVkListVariant::Write(CVkStringW& text) const {
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    // Pre-order walk with a stack of (list, next member): nested lists contribute their members'
    // texts in place, so the result is the same as joining each list's texts by blanks.
    struct Frame {
        const CVkListVariant* list;
        std::size_t next;
    };
    std::vector<Frame> stack{{&m_list, 0}};
    std::wstring out;
    CVkStringW piece;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.list->m_members.size()) {
            stack.pop_back();
            continue;
        }
        const CVkVariant& member = *frame.list->m_members[frame.next++];
        if (frame.next > 1)
            out += L' ';
        const CVkVariantData* data = member.GetData();
        if (const auto* list = dynamic_cast<const CVkVariantDataCVkListVariant*>(data)) {
            stack.push_back({&list->m_list, 0});
        } else if (data) {
            piece.Empty();
            if (data->Write(piece) == 1)
                out.append(piece.GetString(), piece.GetLength());
        }
    }
    text = out;
    return 1;
}

int CVkVariantDataCVkListVariant::Read(const CVkStringW&) {
    return 0;
}

int CVkVariantDataCVkListVariant::Read(const wchar_t*) {
    return 0;
}

bool CVkVariantDataCVkListVariant::Eq(const CVkVariantData& other) const {
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    const auto* otherList = dynamic_cast<const CVkVariantDataCVkListVariant*>(&other);
    if (!otherList)
        return false;
    // The pairs of nested lists still to compare; the result is the conjunction over all of them.
    std::vector<std::pair<const CVkVariantDataCVkListVariant*, const CVkVariantDataCVkListVariant*>> work{
        {this, otherList}};
    while (!work.empty()) {
        const auto [a, b] = work.back();
        work.pop_back();
        if (a->m_runType != b->m_runType)
            return false;
        const auto& am = a->m_list.m_members;
        const auto& bm = b->m_list.m_members;
        if (am.size() != bm.size())
            return false;
        for (std::size_t i = 0; i < am.size(); ++i) {
            const CVkVariant& m = *am[i];
            const CVkVariant* partner = nullptr;
            if (m.GetName().Equals(L"no_name")) {
                partner = bm[i].get();
            } else {
                for (const auto& candidate : bm)
                    if (candidate->GetName().Equals(m.GetName())) {
                        partner = candidate.get();
                        break;
                    }
            }
            if (!partner)
                return false;
            const CVkVariantData* md = m.GetData();
            const CVkVariantData* pd = partner->GetData();
            if (!md && !pd)
                continue;
            if (!md || !pd)
                return false;
            const auto* ml = dynamic_cast<const CVkVariantDataCVkListVariant*>(md);
            const auto* pl = dynamic_cast<const CVkVariantDataCVkListVariant*>(pd);
            if (ml && pl)
                work.emplace_back(ml, pl);
            else if (ml || pl || !md->Eq(*pd))
                return false;
        }
    }
    return true;
}

void CVkVariantDataCVkListVariant::GetValueCopy(CVkVariantData& target) const {
    auto* list = dynamic_cast<CVkVariantDataCVkListVariant*>(&target);
    // A list of another run type (a plain list and a record, or two records) is another kind.
    if (!list || list->m_runType != m_runType) {
        VkPrintDiagnostic(
            L"Error: CVkVariantDataCVkListVariant::GetValueCopy, can't get to this type of data!");
        return;
    }
    list->m_list.SetValue(m_list);
}

CVkVariantData* CVkVariantDataCVkListVariant::Clone() const {
    if (m_runType == GetOrigRunType())
        return new CVkVariantDataCVkListVariant();
    std::lock_guard<std::recursive_mutex> lock(CVkListVariant::recursiveMutex());
    const CVkVariant& sample = CVkVariant::GetRunTypeSample(m_runType);
    const auto* sampleList = dynamic_cast<const CVkVariantDataCVkListVariant*>(sample.GetData());
    // A run type without a list sample has no layout to copy: the clone is a plain list.
    if (!sampleList)
        return new CVkVariantDataCVkListVariant();
    auto clone = std::make_unique<CVkVariantDataCVkListVariant>(m_runType);
    CVkListVariant::copyMembers(sampleList->m_list, clone->m_list);
    return clone.release();
}

int CVkVariantDataCVkListVariant::SetRunType(const CVkVariantRunType& rt) {
    m_runType = rt;
    return 0;
}

bool CVkVariantDataCVkListVariant::IsArray() const {
    return true;
}

} // namespace ZanLegacy
