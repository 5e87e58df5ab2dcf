// The image-file conformance table through the facade, over every kind of file.

#include <support/ImageFileConformance.h>

using namespace ZanTest;

INSTANTIATE_TEST_SUITE_P(
    Facade, ImageFileConformance,
    testing::ValuesIn(conformanceCases({ImageFileKind::Native, ImageFileKind::NativeLossless,
                                        ImageFileKind::Tiff, ImageFileKind::PrivateTagTiff,
                                        ImageFileKind::JsonSet, ImageFileKind::JsonSetPerFrame},
                                       Route::Facade)),
    conformanceCaseName);
