#include "wpd/media_classification.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace snapferry {
namespace {

struct Case {
  std::wstring name;
  MediaClass expected;
};

void ExpectClasses(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyMedia(c.name), c.expected)
        << "name of " << c.name.size() << " units";
  }
}

TEST(ClassifyMediaTest, KnowsEachExtensionInAnyCaseOfAToZ) {
  ExpectClasses({
      {L"IMG_0001.HEIC", MediaClass::kPhoto},
      {L"img_0001.heic", MediaClass::kPhoto},
      {L"a.Heif", MediaClass::kPhoto},
      {L"IMG_0002.JPG", MediaClass::kPhoto},
      {L"a.jpeg", MediaClass::kPhoto},
      {L"a.DNG", MediaClass::kPhoto},
      {L"a.gif", MediaClass::kPhoto},
      {L"a.tif", MediaClass::kPhoto},
      {L"a.TIFF", MediaClass::kPhoto},
      {L"IMG_0003.PNG", MediaClass::kScreenshot},
      {L"IMG_0004.MOV", MediaClass::kVideo},
      {L"a.mp4", MediaClass::kVideo},
      {L"a.M4v", MediaClass::kVideo},
      {L"IMG_0005.AAE", MediaClass::kSidecar},
  });
}

TEST(ClassifyMediaTest, OnlyTheTextAfterTheLastDotCounts) {
  ExpectClasses({
      {L"archive.tar.mp4", MediaClass::kVideo},
      {L"IMG_0001.jpg.bak", MediaClass::kOther},
      {L".heic", MediaClass::kPhoto},
      {L"jpg", MediaClass::kOther},
      {L"", MediaClass::kOther},
      {L"IMG_0001.", MediaClass::kOther},
      {L"notes.txt", MediaClass::kOther},
  });
}

TEST(ClassifyMediaTest, NearMissesAreOther) {
  std::wstring fullwidth_jpg = L"a.";
  fullwidth_jpg += static_cast<wchar_t>(0xFF2A);  // FULLWIDTH J
  fullwidth_jpg += static_cast<wchar_t>(0xFF30);  // FULLWIDTH P
  fullwidth_jpg += static_cast<wchar_t>(0xFF27);  // FULLWIDTH G
  std::wstring embedded_nul = L"a.jpg";
  embedded_nul += L'\0';
  ExpectClasses({
      {L"a.jpeg2", MediaClass::kOther},
      {L"a.mp4 ", MediaClass::kOther},
      {L"a. mp4", MediaClass::kOther},
      {L"a.jp", MediaClass::kOther},
      {L"a.heics", MediaClass::kOther},
      {fullwidth_jpg, MediaClass::kOther},
      {embedded_nul, MediaClass::kOther},
  });
}

}  // namespace
}  // namespace snapferry
