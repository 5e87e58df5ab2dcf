#include <legacy/CVkVariant.h>

#include <legacy/CVkStringUtils.h>
#include <legacy/VkDiagnostics.h>
#include <legacy/detail/VkVariantDetail.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

namespace ZanLegacy {

namespace {

constexpr const wchar_t* kAssignInt =
    L"Error: CVkVariant::operator=, can't do assignment - type change not enabled";
constexpr const wchar_t* kAssignLong = L"Error: can't do assignment, type change not enabled.";
constexpr const wchar_t* kAssignOther = L"Error: can't do assignment, type change not enabled";

CVkStringW wideFromUtf8(const char* text) {
    CVkStringW wide;
    if (text)
        CVkStringUtils::UTF8toW(text, wide);
    return wide;
}

CVkStringW validated(const CVkStringW& name) {
    CVkStringW copy(name);
    CVkVariant::ValidateName(copy);
    return copy;
}

template <class T>
std::unique_ptr<CVkVariantData> makeData(const T& value) {
    return std::make_unique<CVkVariantDataT<T>>(value);
}

template <class T>
const T* valueOf(const CVkVariantData* data) {
    const auto* typed = dynamic_cast<const CVkVariantDataT<T>*>(data);
    return typed ? &typed->GetValue() : nullptr;
}

void setOk(bool* ok, bool value) {
    if (ok)
        *ok = value;
}

// Little-endian integer of the first n bytes.
std::uint64_t littleEndian(const unsigned char* bytes, unsigned n) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < n; ++i)
        value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    return value;
}

// Doubles convert to integers truncated toward zero and saturated at the target's range; NaN gives 0.
std::int64_t saturateInt64(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= 9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::max();
    if (v < -9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

template <class R>
R fromDouble(double v) {
    if constexpr (std::is_same_v<R, int>) {
        if (std::isnan(v))
            return 0;
        if (v >= 2147483648.0)
            return std::numeric_limits<int>::max();
        if (v <= -2147483649.0)
            return std::numeric_limits<int>::min();
        return static_cast<int>(v);
    } else if constexpr (std::is_same_v<R, unsigned long>) {
        if (!std::isnan(v) && v >= 9223372036854775808.0)
            return v >= 18446744073709551616.0 ? std::numeric_limits<unsigned long>::max()
                                               : static_cast<unsigned long>(v);
        return static_cast<unsigned long>(saturateInt64(v));
    } else {
        // int64, and uint32 as the low 32 bits of the signed 64-bit value.
        return static_cast<R>(saturateInt64(v));
    }
}

// The integer getters share one conversion: integer sources give their bits widened with their own
// signedness, and the result keeps the low bits that fit.
template <class R>
R getInteger(const CVkVariantData* data, bool* ok, R failure, const wchar_t* message) {
    setOk(ok, true);
    constexpr unsigned width = sizeof(R);
    if (const int* v = valueOf<int>(data))
        return static_cast<R>(static_cast<std::uint64_t>(static_cast<std::int64_t>(*v)));
    if (const unsigned* v = valueOf<unsigned>(data))
        return static_cast<R>(static_cast<std::uint64_t>(*v));
    if (const long* v = valueOf<long>(data))
        return static_cast<R>(static_cast<std::uint64_t>(*v));
    if (const unsigned long* v = valueOf<unsigned long>(data))
        return static_cast<R>(*v);
    if (const double* v = valueOf<double>(data))
        return fromDouble<R>(*v);
    if (const bool* v = valueOf<bool>(data))
        return static_cast<R>(*v ? 1 : 0);
    if (void* const* v = valueOf<void*>(data))
        return static_cast<R>(reinterpret_cast<std::uintptr_t>(*v));
    if (const CVkStringW* v = valueOf<CVkStringW>(data)) {
        CVkVariantDataT<R> parsed;
        parsed.Read(*v);
        return parsed.GetValue();
    }
    if (const CVkByteArray* v = valueOf<CVkByteArray>(data)) {
        if (v->GetSize() < width) {
            setOk(ok, false);
            return failure;
        }
        return static_cast<R>(littleEndian(v->GetData(), width));
    }
    setOk(ok, false);
    VkPrintDiagnostic(message);
    return failure;
}

} // namespace

CVkVariant& undefVariant() {
    static CVkVariant undefined;
    return undefined;
}

// Construction.

CVkVariant::CVkVariant() = default;
CVkVariant::CVkVariant(const int& value, const CVkStringW& name)
    : m_data(makeData(value)), m_name(validated(name)) {}
CVkVariant::CVkVariant(const unsigned int& value, const CVkStringW& name)
    : m_data(makeData(value)), m_name(validated(name)) {}
CVkVariant::CVkVariant(const long& value, const CVkStringW& name)
    : m_data(makeData(value)), m_name(validated(name)) {}
CVkVariant::CVkVariant(const unsigned long& value, const CVkStringW& name)
    : m_data(makeData(value)), m_name(validated(name)) {}
CVkVariant::CVkVariant(const double& value, const CVkStringW& name)
    : m_data(makeData(value)), m_name(validated(name)) {}
CVkVariant::CVkVariant(const bool& value, const CVkStringW& name)
    : m_data(makeData(value)), m_name(validated(name)) {}
CVkVariant::CVkVariant(void* const& value, const CVkStringW& name)
    : m_data(makeData(value)), m_name(validated(name)) {}
CVkVariant::CVkVariant(char* const& value, const CVkStringW& name)
    : m_data(makeData(wideFromUtf8(value))), m_name(validated(name)) {}
CVkVariant::CVkVariant(wchar_t* const& value, const CVkStringW& name)
    : m_data(makeData(CVkStringW(value))), m_name(validated(name)) {}
CVkVariant::CVkVariant(const char* value, const CVkStringW& name)
    : m_data(makeData(wideFromUtf8(value))), m_name(validated(name)) {}
CVkVariant::CVkVariant(const wchar_t* value, const CVkStringW& name)
    : m_data(makeData(CVkStringW(value))), m_name(validated(name)) {}
CVkVariant::CVkVariant(const CVkStringW& value, const CVkStringW& name)
    : m_data(makeData(value)), m_name(validated(name)) {}
CVkVariant::CVkVariant(const CVkByteArray& value, const CVkStringW& name)
    : m_data(makeData(value)), m_name(validated(name)) {}
CVkVariant::CVkVariant(const CVkListVariant& value, const CVkStringW& name)
    : m_data(std::make_unique<CVkVariantDataCVkListVariant>(value)), m_name(validated(name)) {}

CVkVariant::CVkVariant(const CVkVariantRunType& rt, const CVkStringW& name) : m_name(validated(name)) {
    const CVkVariant& sample = GetRunTypeSample(rt);
    if (sample.m_data)
        m_data.reset(sample.m_data->Clone());
}

CVkVariant::CVkVariant(const CVkVariant& other)
    : m_data(other.m_data ? CVkListVariant::copyData(*other.m_data) : nullptr), m_name(other.m_name),
      m_typeChangeEnabled(other.m_typeChangeEnabled) {}

CVkVariant::~CVkVariant() = default;

bool CVkVariant::isUndef() const {
    return this == &undefVariant();
}

CVkVariantDataCVkListVariant* CVkVariant::asList() const {
    return dynamic_cast<CVkVariantDataCVkListVariant*>(m_data.get());
}

// Names.

int CVkVariant::SetName(const CVkStringW& name) {
    if (isUndef())
        return 0;
    m_name = name;
    return ValidateName(m_name);
}

int CVkVariant::ValidateName(CVkStringW& name) {
    if (name.IsEmpty()) {
        name = L"no_name";
        return 1;
    }
    const auto letter = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); };
    std::wstring text(name.GetString(), name.GetLength());
    bool changed = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool valid =
            letter(c) || c == L'_' || (i > 0 && ((c >= L'0' && c <= L'9') || c == L'-' || c == L'.'));
        if (!valid) {
            text[i] = L'_';
            changed = true;
        }
    }
    if (!changed)
        return 0;
    name = text;
    return 1;
}

// Value and kind.

const CVkVariantRunType& CVkVariant::GetRunType() const {
    return m_data ? m_data->GetRunType() : CVkVariantRunType::GetUnknown();
}

void* CVkVariant::GetValueVoidPtr() {
    return m_data ? m_data->GetValueVoidPtr() : nullptr;
}

int CVkVariant::Write(CVkStringW& text) const {
    return m_data ? m_data->Write(text) : 0;
}

int CVkVariant::Read(const CVkStringW& text) {
    return m_data ? m_data->Read(text) : 0;
}

int CVkVariant::Read(const wchar_t* text) {
    return m_data ? m_data->Read(text) : 0;
}

bool CVkVariant::EnableTypeChange(bool enable) {
    const bool previous = m_typeChangeEnabled;
    if (!isUndef())
        m_typeChangeEnabled = enable;
    return previous;
}

void CVkVariant::MakeNull() {
    if (!m_typeChangeEnabled) {
        VkPrintDiagnostic(L"Error: CVkVariant::MakeNull()), type change not enabled!");
        return;
    }
    m_data.reset();
}

// Assignment.

template <class T>
CVkVariant& CVkVariant::assignValue(const T& value, const wchar_t* refusal) {
    if (auto* same = dynamic_cast<CVkVariantDataT<T>*>(m_data.get())) {
        same->SetValue(value);
        return *this;
    }
    if (!m_typeChangeEnabled) {
        VkPrintDiagnostic(refusal);
        return *this;
    }
    m_data = makeData(value);
    return *this;
}

CVkVariant& CVkVariant::operator=(const int& value) {
    return assignValue(value, kAssignInt);
}
CVkVariant& CVkVariant::operator=(const unsigned int& value) {
    return assignValue(value, kAssignOther);
}
CVkVariant& CVkVariant::operator=(const long& value) {
    return assignValue(value, kAssignLong);
}
CVkVariant& CVkVariant::operator=(const unsigned long& value) {
    return assignValue(value, kAssignOther);
}
CVkVariant& CVkVariant::operator=(const double& value) {
    return assignValue(value, kAssignOther);
}
CVkVariant& CVkVariant::operator=(const bool& value) {
    return assignValue(value, kAssignOther);
}
CVkVariant& CVkVariant::operator=(void* const& value) {
    return assignValue(value, kAssignOther);
}
CVkVariant& CVkVariant::operator=(const CVkStringW& value) {
    return assignValue(value, kAssignOther);
}
CVkVariant& CVkVariant::operator=(const wchar_t* value) {
    return assignValue(CVkStringW(value), kAssignOther);
}
CVkVariant& CVkVariant::operator=(const char* value) {
    return assignValue(wideFromUtf8(value), kAssignOther);
}
CVkVariant& CVkVariant::operator=(const CVkByteArray& value) {
    return assignValue(value, kAssignOther);
}

CVkVariant& CVkVariant::operator=(const CVkListVariant& value) {
    CVkVariantDataCVkListVariant* list = asList();
    if (list && list->GetRunType() == CVkVariantDataCVkListVariant::GetOrigRunType()) {
        list->GetList().SetValue(value);
        return *this;
    }
    if (!m_typeChangeEnabled) {
        VkPrintDiagnostic(kAssignOther);
        return *this;
    }
    // Built before the old value goes: value may lie inside it.
    m_data = std::make_unique<CVkVariantDataCVkListVariant>(value);
    return *this;
}

CVkVariant& CVkVariant::operator=(const CVkVariant& source) {
    if (&source == this || m_data.get() == source.m_data.get())
        return *this;
    if (source.m_data) {
        if (m_data && m_data->GetRunType() == source.m_data->GetRunType()) {
            source.m_data->GetValueCopy(*m_data);
            return *this;
        }
        if (!m_typeChangeEnabled) {
            detail::VkPrintFormatted(
                512, L"Error: can't do assignment from type: %hs to: %hs, type change not enabled!",
                source.GetRunType().GetName().GetString(), GetRunType().GetName().GetString());
            return *this;
        }
        // Copy first, then replace: source may be a member of this node.
        m_data = CVkListVariant::copyData(*source.m_data);
        return *this;
    }
    if (!m_typeChangeEnabled) {
        VkPrintDiagnostic(L"Error: can't do assignment, type change not enabled!");
        return *this;
    }
    m_data.reset();
    return *this;
}

// Comparison.

bool CVkVariant::operator==(const CVkVariant& other) const {
    if (!m_data || !other.m_data)
        return !m_data && !other.m_data;
    return m_data->Eq(*other.m_data);
}
bool CVkVariant::operator!=(const CVkVariant& other) const {
    return !(*this == other);
}

namespace {

// A plain-value comparison: the getter must succeed and its result equal the value.
template <class T, class Getter, class Equal>
bool equalsVia(const CVkVariant& v, Getter get, const T& value, Equal equal) {
    bool ok = false;
    const auto got = (v.*get)(&ok);
    return ok && equal(got, value);
}

constexpr auto kSame = [](const auto& a, const auto& b) { return a == b; };

} // namespace

bool CVkVariant::operator==(const int& value) const {
    return equalsVia(*this, &CVkVariant::GetVk_int32, value, kSame);
}
bool CVkVariant::operator==(const unsigned int& value) const {
    return equalsVia(*this, &CVkVariant::GetVk_uint32, value, kSame);
}
bool CVkVariant::operator==(const long& value) const {
    return equalsVia(*this, &CVkVariant::GetVk_int64, value, kSame);
}
bool CVkVariant::operator==(const unsigned long& value) const {
    return equalsVia(*this, &CVkVariant::GetVk_uint64, value, kSame);
}
bool CVkVariant::operator==(const double& value) const {
    return equalsVia(*this, &CVkVariant::GetDouble, value,
                     [](double a, double b) { return AlmostEqual(a, b, 3); });
}
bool CVkVariant::operator==(const bool& value) const {
    return equalsVia(*this, &CVkVariant::GetBool, value, kSame);
}
bool CVkVariant::operator==(void* const& value) const {
    return equalsVia(*this, &CVkVariant::GetVoidPtr, value, kSame);
}
bool CVkVariant::operator==(const CVkStringW& value) const {
    return equalsVia(*this, &CVkVariant::GetCVkStringW, value,
                     [](const CVkStringW& a, const CVkStringW& b) { return a.Equals(b); });
}
bool CVkVariant::operator==(const wchar_t* value) const {
    return *this == CVkStringW(value);
}
bool CVkVariant::operator==(const char* value) const {
    return *this == wideFromUtf8(value);
}
bool CVkVariant::operator==(const CVkByteArray& value) const {
    return equalsVia(*this, &CVkVariant::GetCVkByteArray, value, kSame);
}
bool CVkVariant::operator==(const CVkListVariant& value) const {
    const CVkVariantDataCVkListVariant* list = asList();
    if (!list) {
        VkPrintDiagnostic(L"Error: invalid variant type for array operation.");
        return false;
    }
    const CVkVariantDataCVkListVariant plain(value);
    return list->Eq(plain);
}

bool CVkVariant::operator!=(const int& value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(const unsigned int& value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(const long& value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(const unsigned long& value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(const double& value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(const bool& value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(void* const& value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(const CVkStringW& value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(const wchar_t* value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(const char* value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(const CVkByteArray& value) const {
    return !(*this == value);
}
bool CVkVariant::operator!=(const CVkListVariant& value) const {
    return !(*this == value);
}

// Typed getters.

int CVkVariant::GetVk_int32(bool* ok) const {
    return getInteger<int>(m_data.get(), ok, -1, L"Can't convert to vk_int32!");
}

unsigned int CVkVariant::GetVk_uint32(bool* ok) const {
    return getInteger<unsigned int>(m_data.get(), ok, 0u, L"Can't convert to vk_uint32!");
}

long CVkVariant::GetVk_int64(bool* ok) const {
    return getInteger<long>(m_data.get(), ok, -1L, L"Can't convert to vk_int64!");
}

unsigned long CVkVariant::GetVk_uint64(bool* ok) const {
    return getInteger<unsigned long>(m_data.get(), ok, 0UL, L"Can't convert to vk_uint64!");
}

double CVkVariant::GetDouble(bool* ok) const {
    setOk(ok, true);
    const CVkVariantData* data = m_data.get();
    if (const int* v = valueOf<int>(data))
        return *v;
    if (const unsigned* v = valueOf<unsigned>(data))
        return *v;
    if (const long* v = valueOf<long>(data))
        return static_cast<double>(*v);
    if (const unsigned long* v = valueOf<unsigned long>(data))
        return static_cast<double>(*v);
    if (const double* v = valueOf<double>(data))
        return *v;
    if (const bool* v = valueOf<bool>(data))
        return *v ? 1.0 : 0.0;
    if (const CVkStringW* v = valueOf<CVkStringW>(data)) {
        CVkVariantDataDouble parsed;
        parsed.Read(*v);
        return parsed.GetValue();
    }
    if (const CVkByteArray* v = valueOf<CVkByteArray>(data)) {
        if (v->GetSize() < 8) {
            setOk(ok, false);
            return 0.0;
        }
        const std::uint64_t bits = littleEndian(v->GetData(), 8);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    setOk(ok, false);
    VkPrintDiagnostic(L"Can't convert to double!");
    return 0.0;
}

bool CVkVariant::GetBool(bool* ok) const {
    setOk(ok, true);
    const CVkVariantData* data = m_data.get();
    if (const int* v = valueOf<int>(data))
        return *v != 0;
    if (const unsigned* v = valueOf<unsigned>(data))
        return *v != 0;
    if (const long* v = valueOf<long>(data))
        return *v != 0;
    if (const unsigned long* v = valueOf<unsigned long>(data))
        return *v != 0;
    if (const double* v = valueOf<double>(data))
        return *v != 0.0;
    if (const bool* v = valueOf<bool>(data))
        return *v;
    if (void* const* v = valueOf<void*>(data))
        return *v != nullptr;
    if (const CVkStringW* v = valueOf<CVkStringW>(data)) {
        CVkVariantDataBool parsed;
        parsed.Read(*v);
        return parsed.GetValue();
    }
    if (const CVkByteArray* v = valueOf<CVkByteArray>(data)) {
        if (v->GetSize() < 1) {
            setOk(ok, false);
            return false;
        }
        return v->GetData()[0] != 0;
    }
    setOk(ok, false);
    VkPrintDiagnostic(L"Can't convert to bool!");
    return false;
}

void* CVkVariant::GetVoidPtr(bool* ok) const {
    setOk(ok, true);
    if (void* const* v = valueOf<void*>(m_data.get()))
        return *v;
    if (const CVkByteArray* v = valueOf<CVkByteArray>(m_data.get()))
        return v->GetData();
    setOk(ok, false);
    VkPrintDiagnostic(L"Can't convert to void*!");
    return nullptr;
}

CVkStringW CVkVariant::GetCVkStringW(bool* ok) const {
    CVkStringW text;
    const bool written = Write(text) == 1;
    setOk(ok, written);
    return written ? text : CVkStringW();
}

CVkByteArray CVkVariant::GetCVkByteArray(bool* ok) const {
    setOk(ok, true);
    if (const CVkByteArray* v = valueOf<CVkByteArray>(m_data.get()))
        return *v;
    if (const int* v = valueOf<int>(m_data.get())) {
        const auto bits = static_cast<std::uint32_t>(*v);
        const unsigned char bytes[4] = {
            static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
            static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
        return CVkByteArray(bytes, 4, 1024);
    }
    setOk(ok, false);
    VkPrintDiagnostic(L"Can't convert to CVkByteArray!");
    return CVkByteArray();
}

void CVkVariant::DebugVisualizersTest() {
    CVkVariant root;
    root.Append(CVkVariant(1, L"MyInt32"));
    root.Append(CVkVariant(L"StringValue", L"MyString"));
    root.Append(CVkVariant(CVkListVariant(), L"MyEmptyList"));
    CVkVariant list;
    list.Append(CVkVariant(2, L"MyInt32"));
    list.SetName(L"MyList");
    root.Append(list);
}

} // namespace ZanLegacy
