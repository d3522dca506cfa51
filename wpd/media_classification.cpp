#include "wpd/media_classification.h"

#include <cwctype>
#include <string_view>

namespace snapferry {
namespace {

struct Extension {
  const wchar_t* text;
  MediaClass media_class;
};

constexpr Extension kExtensions[] = {
    {L"heic", MediaClass::kPhoto},     {L"heif", MediaClass::kPhoto},
    {L"jpg", MediaClass::kPhoto},      {L"jpeg", MediaClass::kPhoto},
    {L"dng", MediaClass::kPhoto},      {L"gif", MediaClass::kPhoto},
    {L"tif", MediaClass::kPhoto},      {L"tiff", MediaClass::kPhoto},
    {L"png", MediaClass::kScreenshot}, {L"mov", MediaClass::kVideo},
    {L"mp4", MediaClass::kVideo},      {L"m4v", MediaClass::kVideo},
    {L"aae", MediaClass::kSidecar},
};

}  // namespace

MediaClass ClassifyMedia(const std::wstring& name) {
  size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return MediaClass::kOther;
  // Every known extension is at most four units long; anything longer is
  // "other" without folding it.
  size_t length = name.size() - dot - 1;
  if (length == 0 || length > 4) return MediaClass::kOther;
  wchar_t lowered[5] = {};
  for (size_t i = 0; i < length; ++i) {
    lowered[i] = static_cast<wchar_t>(std::towlower(name[dot + 1 + i]));
  }
  for (const Extension& extension : kExtensions) {
    if (std::wstring_view(extension.text) ==
        std::wstring_view(lowered, length)) {
      return extension.media_class;
    }
  }
  return MediaClass::kOther;
}

}  // namespace snapferry
