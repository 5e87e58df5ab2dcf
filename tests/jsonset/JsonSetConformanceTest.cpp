// The image-file conformance table over JSON image sets of one TIFF per component and one per frame.

#include <support/ImageFileConformance.h>

using namespace ZanTest;

INSTANTIATE_TEST_SUITE_P(JsonSet, ImageFileConformance,
                         testing::ValuesIn(conformanceCases(
                             {ImageFileKind::JsonSet, ImageFileKind::JsonSetPerFrame}, Route::Direct)),
                         conformanceCaseName);
