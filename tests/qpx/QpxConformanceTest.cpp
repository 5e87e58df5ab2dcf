// The image-file conformance table over native files of raw and of compressed frames.

#include <support/ImageFileConformance.h>

using namespace ZanTest;

INSTANTIATE_TEST_SUITE_P(Native, ImageFileConformance,
                         testing::ValuesIn(conformanceCases(
                             {ImageFileKind::Native, ImageFileKind::NativeLossless}, Route::Direct)),
                         conformanceCaseName);
