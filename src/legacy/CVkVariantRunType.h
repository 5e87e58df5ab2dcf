#pragma once

#include <io/ZanExport.h>

#include <legacy/CVkStringA.h>

namespace ZanLegacy {

// Names the kind of a variant value: one of the basic kinds ("vk_int32", "double", "CVkStringW", ...),
// "CVkListVariant" for a plain list, the name of a registered record type, or "unknown" for a node
// without a value. Run types compare by their names, byte by byte. One thread at a time per object.
class ZAN_EXPORT CVkVariantRunType {
public:
    // Named "unknown".
    CVkVariantRunType();
    CVkVariantRunType(const CVkStringA& name);
    CVkVariantRunType(const char* name);
    CVkVariantRunType(const CVkVariantRunType& other);
    CVkVariantRunType& operator=(const CVkVariantRunType& other);
    ~CVkVariantRunType();

    const CVkStringA& GetName() const { return name; }

    bool operator==(const CVkVariantRunType& other) const;
    bool operator!=(const CVkVariantRunType& other) const;
    bool operator<(const CVkVariantRunType& other) const;

    // The run type of a node without a value.
    static const CVkVariantRunType& GetUnknown();

private:
    CVkStringA name;
};

} // namespace ZanLegacy
