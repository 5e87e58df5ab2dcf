// The record types of the legacy metadata, registered once per process when the library is loaded.
#include <legacy/CVkVariant.h>

#include <cstring>

namespace ZanLegacy {
namespace {

// Members with their kinds' defaults unless a value is given.
CVkVariant i32(const wchar_t* name, int value = 0) {
    return CVkVariant(value, name);
}
CVkVariant u32(const wchar_t* name, unsigned int value = 0) {
    return CVkVariant(value, name);
}
CVkVariant u64(const wchar_t* name) {
    return CVkVariant(0ul, name);
}
CVkVariant dbl(const wchar_t* name, double value = 0.0) {
    return CVkVariant(value, name);
}
CVkVariant flag(const wchar_t* name, bool value = false) {
    return CVkVariant(value, name);
}
CVkVariant str(const wchar_t* name) {
    return CVkVariant(CVkStringW(), name);
}
CVkVariant bytes(const wchar_t* name) {
    return CVkVariant(CVkByteArray(), name);
}
CVkVariant list(const wchar_t* name) {
    return CVkVariant(CVkVariantRunType("CVkListVariant"), name);
}
// A copy of the sample of type registered at this moment: nested types are registered first.
CVkVariant rec(const wchar_t* name, const char* type) {
    return CVkVariant(CVkVariantRunType(type), name);
}

struct RecordType {
    const char* name;
    CVkVariant (*build)(const CVkStringW& name);
};

// In registration order.
const RecordType kRecordTypes[] = {
    {"RVkIPoint",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {i32(L"x"), i32(L"y")});
     }},
    {"RVkDPoint",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {dbl(L"x"), dbl(L"y")});
     }},
    {"RVkDSize",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {dbl(L"cx"), dbl(L"cy")});
     }},
    {"RVkISize",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {i32(L"cx"), i32(L"cy")});
     }},
    {"RVkIRect",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {i32(L"left"), i32(L"top"), i32(L"right"), i32(L"bottom")});
     }},
    {"RVkDRect",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {dbl(L"left"), dbl(L"top"), dbl(L"right"), dbl(L"bottom")});
     }},
    {"RVkExperiment.RVkExpAutoFocus",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {u32(L"eType"), dbl(L"dStep", 1.0), dbl(L"dRange"), dbl(L"dPrecision"), dbl(L"dSpeed"),
                 dbl(L"dOffset"), list(L"aFocusPlane"), u32(L"uiFlags"), i32(L"iFocusCriterion"),
                 str(L"sZDrive"), str(L"wszOptConf"), str(L"wszPreferedAFChannel")});
     }},
    {"RVkExperiment.RVkExpTimeLoop",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {u32(L"uiCount"), dbl(L"dStart"), dbl(L"dPeriod"), dbl(L"dDuration"), dbl(L"dMinPeriodDiff"),
                 dbl(L"dMaxPeriodDiff"), dbl(L"dAvgPeriodDiff"), str(L"wsPhaseName"),
                 rec(L"sAutoFocusBeforePeriod", "RVkExperiment.RVkExpAutoFocus"),
                 rec(L"sAutoFocusBeforeCapture", "RVkExperiment.RVkExpAutoFocus"), u32(L"uiLoopType"),
                 u32(L"uiGroup"), u32(L"uiStimulationCount"), u32(L"uiTreatment"),
                 dbl(L"dIncubationDuration", -1.0), flag(L"bDurationPref"), bytes(L"pIncubationData"),
                 str(L"wsInterfaceName")});
     }},
    {"RVkExperiment.RVkExpNETimeLoop",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {u32(L"uiCount"), u32(L"uiPeriodCount"), list(L"pPeriod"), list(L"pSubLoops"),
                 rec(L"sAutoFocusBeforePeriod", "RVkExperiment.RVkExpAutoFocus"),
                 rec(L"sAutoFocusBeforeCapture", "RVkExperiment.RVkExpAutoFocus"),
                 list(L"szCommandBeforePeriod"), list(L"szCommandAfterPeriod"), list(L"pPeriodValid")});
     }},
    {"RVkExperiment.RVkExpXYPosLoop",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {u32(L"uiCount"), list(L"dPosX"), list(L"dPosY"), flag(L"bUseZ"), list(L"dPosZ"),
                 list(L"dPFSOffset"), rec(L"sAutoFocusBeforeCapture", "RVkExperiment.RVkExpAutoFocus"),
                 list(L"pPosName"), str(L"sZDevice"), flag(L"bRelativeXY"), dbl(L"dReferenceX"),
                 dbl(L"dReferenceY"), flag(L"bRedefineAfterPFS"), flag(L"bRedefineAfterAutoFocus"),
                 flag(L"bKeepPFSOn"), flag(L"bSplitMultipoints"), flag(L"bUseAFPlane")});
     }},
    {"RVkExperiment.RVkExpXYDiscrLoop",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {u32(L"uiCount"), list(L"uiRow"), list(L"uiCol"), flag(L"bUseZ"),
                                             list(L"dPosZ"), u32(L"uiLargeImageRows", 1),
                                             u32(L"uiLargeImageCols", 1)});
     }},
    {"RVkExperiment.RVkExpZStackLoop",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {u32(L"uiCount"), dbl(L"dZLow"), dbl(L"dZLowPFSOffset"), dbl(L"dZHigh"),
                 dbl(L"dZHighPFSOffset"), dbl(L"dZHome"), dbl(L"dZStep", -1.0), flag(L"bAbsolute"),
                 flag(L"bTriggeredPiezo"), i32(L"iType"), flag(L"bZInverted"), dbl(L"dReferencePosition"),
                 dbl(L"dTIRFPosition"), dbl(L"dTIRFPFSOffset", -1.0), flag(L"bTIRF"), str(L"sZDevice"),
                 str(L"sCommandBeforeCapture"), str(L"sCommandAfterCapture")});
     }},
    {"RVkExperiment.RVkExpPolarLoop",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {u32(L"uiCount"), dbl(L"dAngleStart"), dbl(L"dAngleFinish"), flag(L"bSceneRotates")});
     }},
    {"RVkOFSpectrumPoint",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {u32(L"eType"), u32(L"uiWavelength"), dbl(L"dWavelength"), dbl(L"dTValue")});
     }},
    {"RVkOpticalFilterSpectrum",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {u32(L"uiCount"), list(L"pPoint"), flag(L"bPoints")});
     }},
    {"RVkOpticalFilter",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {str(L"m_sName"), u32(L"m_ePlacement"), u32(L"m_eNature"), u32(L"m_eSpctType"),
                 u32(L"m_uiColor"), rec(L"m_ExcitationSpectrum", "RVkOpticalFilterSpectrum"),
                 rec(L"m_EmissionSpectrum", "RVkOpticalFilterSpectrum"),
                 rec(L"m_MirrorSpectrum", "RVkOpticalFilterSpectrum"), str(L"m_wcTiName")});
     }},
    {"RVkOpticalFilterPath",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {str(L"m_sDescr"), u32(L"m_uiCount"), list(L"m_pFilter")});
     }},
    {"RVkFluorescentProbe",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {str(L"m_sName"), u32(L"m_uiColor"),
                                             rec(L"m_ExcitationSpectrum", "RVkOpticalFilterSpectrum"),
                                             rec(L"m_EmissionSpectrum", "RVkOpticalFilterSpectrum")});
     }},
    {"RVkCameraSetting",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {str(L"sCameraName"),
                                             dbl(L"dExposure"),
                                             i32(L"iOffset"),
                                             dbl(L"dGain", 1.0),
                                             dbl(L"dGamma", 1.0),
                                             dbl(L"dExposureRed"),
                                             i32(L"iOffsetRed"),
                                             dbl(L"dGainRed", 1.0),
                                             dbl(L"dGammaRed", 1.0),
                                             dbl(L"dExposureGreen"),
                                             i32(L"iOffsetGreen"),
                                             dbl(L"dGainGreen", 1.0),
                                             dbl(L"dGammaGreen", 1.0),
                                             dbl(L"dExposureBlue"),
                                             i32(L"iOffsetBlue"),
                                             dbl(L"dGainBlue", 1.0),
                                             dbl(L"dGammaBlue", 1.0),
                                             str(L"sCameraFormatName"),
                                             dbl(L"dCamChipSizeX"),
                                             dbl(L"dCamChipSizeY"),
                                             u32(L"uiCamPxlCountX"),
                                             u32(L"uiCamPxlCountY"),
                                             dbl(L"dCamBinningX", 1.0),
                                             dbl(L"dCamBinningY", 1.0),
                                             rec(L"rcCamChipSrc", "RVkIRect"),
                                             flag(L"bFlippedUpDown"),
                                             flag(L"bFlippedLeftRight"),
                                             str(L"sSpecSettings")});
     }},
    {"RVkPicturePlaneDesc",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {u32(L"uiCompCount"), str(L"sOpticalConfigName"), list(L"sOpticalConfigFull"),
                 u32(L"eModality"), rec(L"pFluorescentProbe", "RVkFluorescentProbe"),
                 rec(L"pFilterPath", "RVkOpticalFilterPath"), rec(L"sCameraSetting", "RVkCameraSetting"),
                 dbl(L"dLampVoltage"), dbl(L"dFadingCorr"), u32(L"uiColor"), str(L"sDescription")});
     }},
    {"RVkPicturePlaneDescV1_1",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n,
             {u32(L"uiCompCount"), str(L"sOpticalConfigName"), list(L"sOpticalConfigFull"), u32(L"eModality"),
              rec(L"pFluorescentProbe", "RVkFluorescentProbe"), rec(L"pFilterPath", "RVkOpticalFilterPath"),
              rec(L"sCameraSetting", "RVkCameraSetting"), dbl(L"dLampVoltage"), dbl(L"dFadingCorr"),
              u32(L"uiColor"), str(L"sDescription"), dbl(L"dAcqTime", -1.0)});
     }},
    {"RVkPicturePlaneDescV1_2",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n,
             {u32(L"uiCompCount"), u32(L"uiSampleIndex"), u64(L"uiModalityMask"),
              rec(L"pFluorescentProbe", "RVkFluorescentProbe"), rec(L"pFilterPath", "RVkOpticalFilterPath"),
              dbl(L"dLampVoltage"), dbl(L"dFadingCorr"), u32(L"uiColor"), str(L"sDescription"),
              dbl(L"dAcqTime", -1.0), dbl(L"dPinholeDiameter", -1.0), i32(L"iChannelSeriesIndex", -1)});
     }},
    {"RVkPicturePlanes",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n,
                                         {u32(L"uiCount"), u32(L"uiCompCount"), list(L"sPlane"),
                                          list(L"sPlaneNew"), u32(L"uiSampleCount"), list(L"sSampleSetting"),
                                          str(L"sDescription"), u32(L"eRepresentation")});
     }},
    {"RVkSampleSettings",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {list(L"sOpticalConfigs"), dbl(L"dExposureTime", -1.0), dbl(L"dScalingToIntensity", -1.0),
                 list(L"pCameraSetting"), u32(L"uiModeFQ"), str(L"sSpecSettings"), list(L"pDeviceSetting"),
                 list(L"pObjectiveSetting"), u32(L"eRepresentation"), bytes(L"baScanArea"),
                 list(L"matCameraToStage"), dbl(L"dRelayLensZoom", 1.0)});
     }},
    {"RVkExperiment.RVkExpSpectLoop",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n, {u32(L"uiCount"), list(L"pPlaneDesc"), rec(L"pPlanes", "RVkPicturePlanes"),
                 list(L"pAutoFocus"), list(L"szCommandBeforeCapture"), list(L"szCommandAfterCapture"),
                 i32(L"bMergeCameras"), i32(L"bWaitForPFS"), i32(L"bAskForFilter"), i32(L"iOffsetReference"),
                 list(L"pZStackPos"), list(L"pdOffset")});
     }},
    {"RVkExperiment.RVkExpCustomLoop",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {u32(L"uiCount"), str(L"wsDescription")});
     }},
    {"RVkExperiment.RVkLIDesc",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(
             n,
             {i32(L"iMethod"), i32(L"iXFields", 2), i32(L"iYFields", 2), dbl(L"dXmm", 1.0), dbl(L"dYmm", 1.0),
              i32(L"bStitch", 1), i32(L"bValid", 1), flag(L"bControlShutter", true), flag(L"bProgressive"),
              flag(L"bUseAFPlane"), dbl(L"dOverlap", 15.0), dbl(L"dWaitAfterMove", -10.0),
              u32(L"uiOrder", 0xFFFFFFFFu), u32(L"uiStitchingChannel"), str(L"sPattern"), str(L"sCamera"),
              rec(L"sAutoFocusBeforeCapture", "RVkExperiment.RVkExpAutoFocus"),
              str(L"wsCommandBeforeCapture"), str(L"wsCommandAfterCapture")});
     }},
    {"RVkExperiment",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {u32(L"eType"),
                                             str(L"wsApplicationDesc"),
                                             str(L"wsUserDesc"),
                                             bytes(L"aMeasProbesBase64"),
                                             str(L"wsCameraName"),
                                             list(L"uLoopPars"),
                                             list(L"pItemValid"),
                                             rec(L"sAutoFocusBeforeLoop", "RVkExperiment.RVkExpAutoFocus"),
                                             str(L"wsCommandBeforeLoop"),
                                             str(L"wsCommandBeforeCapture"),
                                             str(L"wsCommandAfterCapture"),
                                             str(L"wsCommandAfterLoop"),
                                             flag(L"bControlShutter", true),
                                             flag(L"bUsePFS"),
                                             flag(L"bUseWatterSupply", true),
                                             flag(L"bUseHWSequencer"),
                                             flag(L"bUseTiRecipe"),
                                             flag(L"bUseIntenzityCorrection"),
                                             flag(L"bKeepObject"),
                                             u32(L"uiRepeatCount"),
                                             list(L"ppNextLevelEx"),
                                             flag(L"bControlLight"),
                                             list(L"pLargeImage"),
                                             list(L"pLargeImageEx"),
                                             list(L"pNIExperiment"),
                                             list(L"pRecordedData"),
                                             list(L"pExternalData"),
                                             list(L"sParallelExperiment")});
     }},
    {"RVkPictureMetadata.RVkPictureMetadata",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {str(L"wsName"), u32(L"uiIntepretation"), dbl(L"dValue")});
     }},
    {"RVkPictureMetadata",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {dbl(L"dTimeMSec"),
                                             dbl(L"dTimeAbsolute"),
                                             i32(L"eTimeSource"),
                                             dbl(L"dXPos"),
                                             dbl(L"dYPos"),
                                             u32(L"uiRow"),
                                             u32(L"uiCol"),
                                             dbl(L"dZPos"),
                                             flag(L"bZPosAbsolute", true),
                                             dbl(L"dAngle"),
                                             rec(L"sPicturePlanes", "RVkPicturePlanes"),
                                             rec(L"sCameraSetting", "RVkCameraSetting"),
                                             dbl(L"dTemperK"),
                                             dbl(L"dCalibration"),
                                             dbl(L"dAspect"),
                                             flag(L"bCalibrated"),
                                             str(L"wsObjectiveName"),
                                             dbl(L"dObjectiveMag", 1.0),
                                             dbl(L"dObjectiveNA", 1.0),
                                             dbl(L"dRefractIndex1", 1.0),
                                             dbl(L"dRefractIndex2", 1.0),
                                             dbl(L"dPinholeRadius"),
                                             dbl(L"dZoom", 1.0),
                                             dbl(L"dProjectiveMag", 1.0),
                                             list(L"pPhysicalVar"),
                                             u32(L"uiPhysicalVarCount"),
                                             str(L"wsCustomData"),
                                             i32(L"ePictureXAxis"),
                                             i32(L"ePictureYAxis", 1),
                                             dbl(L"dTimeAxisCalibration"),
                                             dbl(L"dZAxisCalibration"),
                                             dbl(L"dStgLgCT11", 1.0),
                                             dbl(L"dStgLgCT12"),
                                             dbl(L"dStgLgCT21"),
                                             dbl(L"dStgLgCT22", 1.0)});
     }},
    {"RVkExperimentEvent",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {dbl(L"dTime"), u32(L"eMeaning"), str(L"wsDescription"),
                                             str(L"wsData"), u32(L"uiID"), list(L"pStimulation")});
     }},
    {"RVkExperimentRecord",
     [](const CVkStringW& n) {
         return CVkVariant::CreateStruct(n, {str(L"wsNotes"), list(L"pFirstEvent")});
     }},
};

// Registered a second time, with the same members, after all of the above.
const char* const kRegisteredAgain[] = {
    "RVkExperiment.RVkExpAutoFocus",
    "RVkExperiment.RVkExpTimeLoop",
    "RVkExperiment.RVkExpNETimeLoop",
    "RVkExperiment.RVkExpXYPosLoop",
    "RVkExperiment.RVkExpXYDiscrLoop",
    "RVkExperiment.RVkExpZStackLoop",
    "RVkExperiment.RVkExpPolarLoop",
    "RVkOFSpectrumPoint",
    "RVkOpticalFilterSpectrum",
    "RVkOpticalFilter",
    "RVkOpticalFilterPath",
    "RVkFluorescentProbe",
    "RVkCameraSetting",
    "RVkPicturePlaneDesc",
    "RVkPicturePlaneDescV1_1",
    "RVkPicturePlaneDescV1_2",
    "RVkPicturePlanes",
    "RVkSampleSettings",
    "RVkExperiment.RVkExpSpectLoop",
    "RVkExperiment.RVkExpCustomLoop",
    "RVkExperiment.RVkLIDesc",
    "RVkExperiment",
    "RVkExperimentEvent",
    "RVkExperimentRecord",
};

void registerRecordType(const RecordType& type) {
    CVkVariant::RegisterRunType(type.build(CVkStringW(type.name)));
}

int registerAll() {
    int registrations = 0;
    for (const RecordType& type : kRecordTypes) {
        registerRecordType(type);
        ++registrations;
    }
    for (const char* name : kRegisteredAgain) {
        for (const RecordType& type : kRecordTypes)
            if (std::strcmp(type.name, name) == 0)
                registerRecordType(type);
        ++registrations;
    }
    return registrations;
}

} // namespace

int CVkVariant::RegisterRuntypes() {
    // Runs the sequence once; a call during the first run waits for it.
    static const int _runtypes = registerAll();
    return _runtypes;
}

namespace {
// The library's one load-time initialiser of the variant code. Everything it reaches is either
// constant-initialised or a function-local static, so the order of initialisation between files does
// not matter.
[[maybe_unused]] const bool registeredAtLoad =
    (countOfRegisteredRuntypes = CVkVariant::RegisterRuntypes(), true);
} // namespace

} // namespace ZanLegacy
