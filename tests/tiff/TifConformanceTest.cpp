// The image-file conformance table over a plain TIFF written by the device and a private-tag TIFF.

#include <support/ImageFileConformance.h>

using namespace ZanTest;

INSTANTIATE_TEST_SUITE_P(
    Tiff, ImageFileConformance,
    testing::ValuesIn(conformanceCases({ImageFileKind::Tiff, ImageFileKind::PrivateTagTiff}, Route::Direct)),
    conformanceCaseName);
