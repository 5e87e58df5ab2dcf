#pragma once

#include <io/ZanExport.h>

#include <legacy/CVkByteArray.h>
#include <legacy/CVkListVariant.h>
#include <legacy/CVkStringW.h>
#include <legacy/CVkVariantRunType.h>

namespace ZanLegacy {

// True when |a - b| < ulps * max(DBL_MIN, DBL_EPSILON * max(|a|, |b|)), or when a and b are the same
// value (so equal infinities are equal). A NaN on either side gives false.
ZAN_EXPORT bool AlmostEqual(double a, double b, int ulps);

// The value of a variant node: one derived class per kind of value. A data object belongs to one node,
// which deletes it. Text forms are locale-independent. Diagnostics go to VkPrintDiagnostic.
class ZAN_EXPORT CVkVariantData {
public:
    CVkVariantData() = default;
    CVkVariantData(const CVkVariantData&) = delete;
    CVkVariantData& operator=(const CVkVariantData&) = delete;

    virtual ~CVkVariantData();
    // The value's text form; 1, or 0 (text untouched) when there is nothing to write.
    virtual int Write(CVkStringW& text) const = 0;
    // Sets the value from a text form; 1, or 0 when the kind cannot be read from text.
    virtual int Read(const CVkStringW& text) = 0;
    virtual int Read(const wchar_t* text) = 0;
    virtual bool Eq(const CVkVariantData& other) const = 0;
    // The address of the stored value.
    virtual void* GetValueVoidPtr() = 0;
    // Copies this value into target, which must be of the same kind; otherwise prints the kind's
    // message and leaves target unchanged.
    virtual void GetValueCopy(CVkVariantData& target) const = 0;
    // A new data object of this run type with the kind's default value (never this one's value);
    // the caller owns it.
    virtual CVkVariantData* Clone() const = 0;
    virtual const CVkVariantRunType& GetRunType() const = 0;
    // Only lists can take another run type: 0; scalars return -9 (with a message when rt differs
    // from their kind's run type).
    virtual int SetRunType(const CVkVariantRunType& rt);
    virtual bool IsArray() const;
};

// The scalar kinds. T is the stored value; each kind is one instantiation, named below.
template <class T>
class ZAN_EXPORT CVkVariantDataT final : public CVkVariantData {
public:
    CVkVariantDataT();
    explicit CVkVariantDataT(const T& value);
    ~CVkVariantDataT() override;

    int Write(CVkStringW& text) const override;
    int Read(const CVkStringW& text) override;
    int Read(const wchar_t* text) override;
    bool Eq(const CVkVariantData& other) const override;
    void* GetValueVoidPtr() override { return &m_value; }
    void GetValueCopy(CVkVariantData& target) const override;
    CVkVariantData* Clone() const override;
    const CVkVariantRunType& GetRunType() const override { return GetClassRunType(); }

    const T& GetValue() const { return m_value; }
    void SetValue(const T& value) { m_value = value; }

    static const CVkVariantRunType& GetClassRunType();

private:
    T m_value;
};

using CVkVariantDataVk_int32 = CVkVariantDataT<int>;
using CVkVariantDataVk_uint32 = CVkVariantDataT<unsigned int>;
using CVkVariantDataVk_int64 = CVkVariantDataT<long>;
using CVkVariantDataVk_uint64 = CVkVariantDataT<unsigned long>;
using CVkVariantDataDouble = CVkVariantDataT<double>;
using CVkVariantDataBool = CVkVariantDataT<bool>;
using CVkVariantDataVoidPtr = CVkVariantDataT<void*>;
using CVkVariantDataCVkStringW = CVkVariantDataT<CVkStringW>;
using CVkVariantDataCVkByteArray = CVkVariantDataT<CVkByteArray>;

extern template class CVkVariantDataT<int>;
extern template class CVkVariantDataT<unsigned int>;
extern template class CVkVariantDataT<long>;
extern template class CVkVariantDataT<unsigned long>;
extern template class CVkVariantDataT<double>;
extern template class CVkVariantDataT<bool>;
extern template class CVkVariantDataT<void*>;
extern template class CVkVariantDataT<CVkStringW>;
extern template class CVkVariantDataT<CVkByteArray>;

// A list value: the members and the list's own run type, "CVkListVariant" for a plain list or the
// name of a record type. Comparison, copies and text walk the tree without recursion.
class ZAN_EXPORT CVkVariantDataCVkListVariant final : public CVkVariantData {
public:
    // An empty plain list.
    CVkVariantDataCVkListVariant();
    // A plain list holding copies of members.
    explicit CVkVariantDataCVkListVariant(const CVkListVariant& members);
    // An empty list of run type rt.
    explicit CVkVariantDataCVkListVariant(const CVkVariantRunType& rt);
    ~CVkVariantDataCVkListVariant() override;

    // The members' texts joined by one blank (a member without a value contributes empty text).
    int Write(CVkStringW& text) const override;
    // Lists are not read from text: 0.
    int Read(const CVkStringW& text) override;
    int Read(const wchar_t* text) override;
    // Same run type and count; members named "no_name" are matched by position, the others by name.
    bool Eq(const CVkVariantData& other) const override;
    void* GetValueVoidPtr() override { return &m_list; }
    void GetValueCopy(CVkVariantData& target) const override;
    // Plain list: an empty plain list. Record type: a list holding the registered sample's members
    // and defaults; a run type that is not registered gives an empty plain list.
    CVkVariantData* Clone() const override;
    const CVkVariantRunType& GetRunType() const override { return m_runType; }
    // Stores rt without any check: 0.
    int SetRunType(const CVkVariantRunType& rt) override;
    bool IsArray() const override;

    CVkListVariant& GetList() { return m_list; }
    const CVkListVariant& GetList() const { return m_list; }

    // "CVkListVariant", the run type of a plain list.
    static const CVkVariantRunType& GetOrigRunType();

private:
    CVkListVariant m_list;
    CVkVariantRunType m_runType;
};

} // namespace ZanLegacy
