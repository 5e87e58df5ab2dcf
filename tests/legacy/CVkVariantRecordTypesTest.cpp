#include <legacy/CVkVariant.h>
#include <legacy/VkDiagnostics.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using ZanLegacy::CVkVariant;
using ZanLegacy::CVkVariantRunType;

namespace {

// Each record type as the legacy metadata defines it: "member:kind" or "member:kind=default",
// separated by blanks; a kind starting with '@' is a nested record of that type.
struct Expected {
    const char* type;
    const char* members;
};

const Expected kExpected[] = {
    {"RVkIPoint", "x:i32 y:i32"},
    {"RVkDPoint", "x:dbl y:dbl"},
    {"RVkDSize", "cx:dbl cy:dbl"},
    {"RVkISize", "cx:i32 cy:i32"},
    {"RVkIRect", "left:i32 top:i32 right:i32 bottom:i32"},
    {"RVkDRect", "left:dbl top:dbl right:dbl bottom:dbl"},
    {"RVkExperiment.RVkExpAutoFocus",
     "eType:u32 dStep:dbl=1 dRange:dbl dPrecision:dbl dSpeed:dbl dOffset:dbl aFocusPlane:list uiFlags:u32 "
     "iFocusCriterion:i32 sZDrive:str wszOptConf:str wszPreferedAFChannel:str"},
    {"RVkExperiment.RVkExpTimeLoop", "uiCount:u32 dStart:dbl dPeriod:dbl dDuration:dbl dMinPeriodDiff:dbl "
                                     "dMaxPeriodDiff:dbl dAvgPeriodDiff:dbl "
                                     "wsPhaseName:str sAutoFocusBeforePeriod:@RVkExperiment.RVkExpAutoFocus "
                                     "sAutoFocusBeforeCapture:@RVkExperiment.RVkExpAutoFocus uiLoopType:u32 "
                                     "uiGroup:u32 uiStimulationCount:u32 "
                                     "uiTreatment:u32 dIncubationDuration:dbl=-1 bDurationPref:bool "
                                     "pIncubationData:bytes wsInterfaceName:str"},
    {"RVkExperiment.RVkExpNETimeLoop",
     "uiCount:u32 uiPeriodCount:u32 pPeriod:list pSubLoops:list "
     "sAutoFocusBeforePeriod:@RVkExperiment.RVkExpAutoFocus "
     "sAutoFocusBeforeCapture:@RVkExperiment.RVkExpAutoFocus "
     "szCommandBeforePeriod:list szCommandAfterPeriod:list pPeriodValid:list"},
    {"RVkExperiment.RVkExpXYPosLoop",
     "uiCount:u32 dPosX:list dPosY:list bUseZ:bool dPosZ:list dPFSOffset:list "
     "sAutoFocusBeforeCapture:@RVkExperiment.RVkExpAutoFocus pPosName:list sZDevice:str bRelativeXY:bool "
     "dReferenceX:dbl dReferenceY:dbl bRedefineAfterPFS:bool bRedefineAfterAutoFocus:bool bKeepPFSOn:bool "
     "bSplitMultipoints:bool bUseAFPlane:bool"},
    {"RVkExperiment.RVkExpXYDiscrLoop",
     "uiCount:u32 uiRow:list uiCol:list bUseZ:bool dPosZ:list uiLargeImageRows:u32=1 uiLargeImageCols:u32=1"},
    {"RVkExperiment.RVkExpZStackLoop",
     "uiCount:u32 dZLow:dbl dZLowPFSOffset:dbl dZHigh:dbl dZHighPFSOffset:dbl dZHome:dbl dZStep:dbl=-1 "
     "bAbsolute:bool bTriggeredPiezo:bool iType:i32 bZInverted:bool dReferencePosition:dbl dTIRFPosition:dbl "
     "dTIRFPFSOffset:dbl=-1 bTIRF:bool sZDevice:str sCommandBeforeCapture:str sCommandAfterCapture:str"},
    {"RVkExperiment.RVkExpPolarLoop", "uiCount:u32 dAngleStart:dbl dAngleFinish:dbl bSceneRotates:bool"},
    {"RVkOFSpectrumPoint", "eType:u32 uiWavelength:u32 dWavelength:dbl dTValue:dbl"},
    {"RVkOpticalFilterSpectrum", "uiCount:u32 pPoint:list bPoints:bool"},
    {"RVkOpticalFilter",
     "m_sName:str m_ePlacement:u32 m_eNature:u32 m_eSpctType:u32 m_uiColor:u32 "
     "m_ExcitationSpectrum:@RVkOpticalFilterSpectrum m_EmissionSpectrum:@RVkOpticalFilterSpectrum "
     "m_MirrorSpectrum:@RVkOpticalFilterSpectrum m_wcTiName:str"},
    {"RVkOpticalFilterPath", "m_sDescr:str m_uiCount:u32 m_pFilter:list"},
    {"RVkFluorescentProbe", "m_sName:str m_uiColor:u32 m_ExcitationSpectrum:@RVkOpticalFilterSpectrum "
                            "m_EmissionSpectrum:@RVkOpticalFilterSpectrum"},
    {"RVkCameraSetting",
     "sCameraName:str dExposure:dbl iOffset:i32 dGain:dbl=1 dGamma:dbl=1 dExposureRed:dbl iOffsetRed:i32 "
     "dGainRed:dbl=1 dGammaRed:dbl=1 dExposureGreen:dbl iOffsetGreen:i32 dGainGreen:dbl=1 dGammaGreen:dbl=1 "
     "dExposureBlue:dbl iOffsetBlue:i32 dGainBlue:dbl=1 dGammaBlue:dbl=1 sCameraFormatName:str "
     "dCamChipSizeX:dbl dCamChipSizeY:dbl uiCamPxlCountX:u32 uiCamPxlCountY:u32 dCamBinningX:dbl=1 "
     "dCamBinningY:dbl=1 rcCamChipSrc:@RVkIRect bFlippedUpDown:bool bFlippedLeftRight:bool "
     "sSpecSettings:str"},
    {"RVkPicturePlaneDesc", "uiCompCount:u32 sOpticalConfigName:str sOpticalConfigFull:list eModality:u32 "
                            "pFluorescentProbe:@RVkFluorescentProbe pFilterPath:@RVkOpticalFilterPath "
                            "sCameraSetting:@RVkCameraSetting "
                            "dLampVoltage:dbl dFadingCorr:dbl uiColor:u32 sDescription:str"},
    {"RVkPicturePlaneDescV1_1",
     "uiCompCount:u32 sOpticalConfigName:str sOpticalConfigFull:list eModality:u32 "
     "pFluorescentProbe:@RVkFluorescentProbe pFilterPath:@RVkOpticalFilterPath "
     "sCameraSetting:@RVkCameraSetting "
     "dLampVoltage:dbl dFadingCorr:dbl uiColor:u32 sDescription:str dAcqTime:dbl=-1"},
    {"RVkPicturePlaneDescV1_2",
     "uiCompCount:u32 uiSampleIndex:u32 uiModalityMask:u64 pFluorescentProbe:@RVkFluorescentProbe "
     "pFilterPath:@RVkOpticalFilterPath dLampVoltage:dbl dFadingCorr:dbl uiColor:u32 sDescription:str "
     "dAcqTime:dbl=-1 dPinholeDiameter:dbl=-1 iChannelSeriesIndex:i32=-1"},
    {"RVkPicturePlanes",
     "uiCount:u32 uiCompCount:u32 sPlane:list sPlaneNew:list uiSampleCount:u32 sSampleSetting:list "
     "sDescription:str eRepresentation:u32"},
    {"RVkSampleSettings",
     "sOpticalConfigs:list dExposureTime:dbl=-1 dScalingToIntensity:dbl=-1 pCameraSetting:list uiModeFQ:u32 "
     "sSpecSettings:str pDeviceSetting:list pObjectiveSetting:list eRepresentation:u32 baScanArea:bytes "
     "matCameraToStage:list dRelayLensZoom:dbl=1"},
    {"RVkExperiment.RVkExpSpectLoop",
     "uiCount:u32 pPlaneDesc:list pPlanes:@RVkPicturePlanes pAutoFocus:list szCommandBeforeCapture:list "
     "szCommandAfterCapture:list bMergeCameras:i32 bWaitForPFS:i32 bAskForFilter:i32 iOffsetReference:i32 "
     "pZStackPos:list pdOffset:list"},
    {"RVkExperiment.RVkExpCustomLoop", "uiCount:u32 wsDescription:str"},
    {"RVkExperiment.RVkLIDesc",
     "iMethod:i32 iXFields:i32=2 iYFields:i32=2 dXmm:dbl=1 dYmm:dbl=1 bStitch:i32=1 bValid:i32=1 "
     "bControlShutter:bool=1 bProgressive:bool bUseAFPlane:bool dOverlap:dbl=15 dWaitAfterMove:dbl=-10 "
     "uiOrder:u32=4294967295 uiStitchingChannel:u32 sPattern:str sCamera:str "
     "sAutoFocusBeforeCapture:@RVkExperiment.RVkExpAutoFocus wsCommandBeforeCapture:str "
     "wsCommandAfterCapture:str"},
    {"RVkExperiment",
     "eType:u32 wsApplicationDesc:str wsUserDesc:str aMeasProbesBase64:bytes wsCameraName:str uLoopPars:list "
     "pItemValid:list sAutoFocusBeforeLoop:@RVkExperiment.RVkExpAutoFocus wsCommandBeforeLoop:str "
     "wsCommandBeforeCapture:str wsCommandAfterCapture:str wsCommandAfterLoop:str bControlShutter:bool=1 "
     "bUsePFS:bool bUseWatterSupply:bool=1 bUseHWSequencer:bool bUseTiRecipe:bool "
     "bUseIntenzityCorrection:bool "
     "bKeepObject:bool uiRepeatCount:u32 ppNextLevelEx:list bControlLight:bool pLargeImage:list "
     "pLargeImageEx:list pNIExperiment:list pRecordedData:list pExternalData:list sParallelExperiment:list"},
    {"RVkPictureMetadata.RVkPictureMetadata", "wsName:str uiIntepretation:u32 dValue:dbl"},
    {"RVkPictureMetadata",
     "dTimeMSec:dbl dTimeAbsolute:dbl eTimeSource:i32 dXPos:dbl dYPos:dbl uiRow:u32 uiCol:u32 dZPos:dbl "
     "bZPosAbsolute:bool=1 dAngle:dbl sPicturePlanes:@RVkPicturePlanes sCameraSetting:@RVkCameraSetting "
     "dTemperK:dbl dCalibration:dbl dAspect:dbl bCalibrated:bool wsObjectiveName:str dObjectiveMag:dbl=1 "
     "dObjectiveNA:dbl=1 dRefractIndex1:dbl=1 dRefractIndex2:dbl=1 dPinholeRadius:dbl dZoom:dbl=1 "
     "dProjectiveMag:dbl=1 pPhysicalVar:list uiPhysicalVarCount:u32 wsCustomData:str ePictureXAxis:i32 "
     "ePictureYAxis:i32=1 dTimeAxisCalibration:dbl dZAxisCalibration:dbl dStgLgCT11:dbl=1 dStgLgCT12:dbl "
     "dStgLgCT21:dbl dStgLgCT22:dbl=1"},
    {"RVkExperimentEvent", "dTime:dbl eMeaning:u32 wsDescription:str wsData:str uiID:u32 pStimulation:list"},
    {"RVkExperimentRecord", "wsNotes:str pFirstEvent:list"},
};

struct Member {
    std::string name, kind, value;
};

std::vector<Member> parseMembers(const char* text) {
    std::vector<Member> members;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        Member m;
        const auto colon = word.find(':');
        const auto equals = word.find('=');
        m.name = word.substr(0, colon);
        m.kind = word.substr(colon + 1, equals == std::string::npos ? std::string::npos : equals - colon - 1);
        m.value = equals == std::string::npos ? "0" : word.substr(equals + 1);
        members.push_back(m);
    }
    return members;
}

const char* runTypeOf(const std::string& kind) {
    if (kind == "i32")
        return "vk_int32";
    if (kind == "u32")
        return "vk_uint32";
    if (kind == "u64")
        return "vk_uint64";
    if (kind == "dbl")
        return "double";
    if (kind == "bool")
        return "bool";
    if (kind == "str")
        return "CVkStringW";
    if (kind == "bytes")
        return "CVkByteArray";
    if (kind == "list")
        return "CVkListVariant";
    return kind.c_str() + 1; // "@record"
}

// Checks one member's run type and default value.
void expectMember(const CVkVariant& actual, const Member& m) {
    SCOPED_TRACE(m.name);
    EXPECT_EQ(actual.GetName().GetUtf8(), m.name);
    ASSERT_STREQ(actual.GetRunType().GetName().GetString(), runTypeOf(m.kind));
    if (m.kind == "i32")
        EXPECT_EQ(actual.GetVk_int32(), std::stoi(m.value));
    else if (m.kind == "u32")
        EXPECT_EQ(actual.GetVk_uint32(), std::stoul(m.value));
    else if (m.kind == "u64")
        EXPECT_EQ(actual.GetVk_uint64(), 0u);
    else if (m.kind == "dbl")
        EXPECT_EQ(actual.GetDouble(), std::stod(m.value));
    else if (m.kind == "bool")
        EXPECT_EQ(actual.GetBool(), m.value == "1");
    else if (m.kind == "str")
        EXPECT_TRUE(actual.GetCVkStringW().IsEmpty());
    else if (m.kind == "bytes")
        EXPECT_EQ(actual.GetCVkByteArray().GetSize(), 0u);
    else if (m.kind == "list")
        EXPECT_EQ(actual.GetCount(), 0);
    else // a nested record holds the registered defaults of its type
        EXPECT_TRUE(actual == CVkVariant::GetRunTypeSample(CVkVariantRunType(m.kind.c_str() + 1)));
}

} // namespace

TEST(CVkVariantRecordTypes, RegisteredAtLoadWithEveryMemberAndDefault) {
    EXPECT_EQ(ZanLegacy::countOfRegisteredRuntypes, 56);
    unsigned int previousIndex = 0;
    for (const Expected& expected : kExpected) {
        SCOPED_TRACE(expected.type);
        const CVkVariantRunType type(expected.type);
        // Registered in table order (the basic types come in with the first sample lookup, during the
        // registration of the first record with a list member).
        const unsigned int index = CVkVariant::GetRunTypeIndex(type, false);
        ASSERT_NE(index, 0xFFFFFFFFu);
        if (&expected != kExpected) {
            EXPECT_GT(index, previousIndex);
        }
        previousIndex = index;

        const CVkVariant v(type, L"made");
        ASSERT_STREQ(v.GetRunType().GetName().GetString(), expected.type);
        const std::vector<Member> members = parseMembers(expected.members);
        ASSERT_EQ(v.GetCount(), static_cast<int>(members.size()));
        for (std::size_t i = 0; i < members.size(); ++i)
            expectMember(*v.IndexPtr(static_cast<int>(i)), members[i]);
    }
}

TEST(CVkVariantRecordTypes, LaterCallsRegisterNothing) {
    ZanLegacy::CVkDiagnosticCapture diagnostics;
    const CVkVariant probeA = CVkVariant::CreateStruct(L"RecordTypesProbeA", {CVkVariant(1, L"a")});
    const CVkVariant probeB = CVkVariant::CreateStruct(L"RecordTypesProbeB", {CVkVariant(1, L"b")});
    ASSERT_EQ(CVkVariant::RegisterRunType(probeA), 0);
    EXPECT_EQ(CVkVariant::RegisterRuntypes(), 56);
    EXPECT_EQ(CVkVariant::RegisterRuntypes(), 56);
    ASSERT_EQ(CVkVariant::RegisterRunType(probeB), 0);
    EXPECT_EQ(CVkVariant::GetRunTypeIndex(CVkVariantRunType("RecordTypesProbeB"), false),
              CVkVariant::GetRunTypeIndex(CVkVariantRunType("RecordTypesProbeA"), false) + 1);
    EXPECT_EQ(diagnostics.Text(), "");
}

TEST(CVkVariantRecordTypes, NestedRecordsAreIndependentCopies) {
    CVkVariant loop(CVkVariantRunType("RVkExperiment.RVkExpTimeLoop"), L"loop");
    CVkVariant* before =
        loop.SearchFixed(L"sAutoFocusBeforePeriod", L"dStep", static_cast<const wchar_t*>(nullptr));
    const CVkVariant* capture =
        loop.SearchFixed(L"sAutoFocusBeforeCapture", L"dStep", static_cast<const wchar_t*>(nullptr));
    ASSERT_TRUE(before && capture);
    *before = 7.5;
    EXPECT_EQ(before->GetDouble(), 7.5);
    EXPECT_EQ(capture->GetDouble(), 1.0);
    const CVkVariant fresh(CVkVariantRunType("RVkExperiment.RVkExpTimeLoop"), L"fresh");
    EXPECT_EQ(fresh[L"sAutoFocusBeforePeriod"][L"dStep"].GetDouble(), 1.0);
}
