#pragma once

#include <io/ZanExport.h>

namespace ZanLegacy {

class CVkVariant;

// A codec between variant trees and one external text form. The parameters are a variant whose named
// children (found anywhere below it) say where the text comes from or goes to; see the implementations.
class ZAN_EXPORT IVkSerializer {
public:
    // Fills out from the text named by params; 0, or a negative legacy result.
    virtual int Load(CVkVariant& out, const CVkVariant& params) = 0;
    // Writes in to the text named by params; 0, or a negative legacy result.
    virtual int Save(CVkVariant& params, const CVkVariant& in) = 0;
    virtual ~IVkSerializer();
};

} // namespace ZanLegacy
