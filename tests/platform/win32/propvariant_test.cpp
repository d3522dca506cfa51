#include <propidl.h>

#include <cwchar>

#include "gtest/gtest.h"
#include "tests/platform/win32/counted_object.h"

namespace {

LPWSTR TaskString(const wchar_t* text) {
  const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  memcpy(copy, text, bytes);
  return copy;
}

TEST(PropVariant, CopyDuplicatesStringsAndClearFreesThem) {
  PROPVARIANT source;
  PropVariantInit(&source);
  source.vt = VT_LPWSTR;
  source.pwszVal = TaskString(L"IMG_0001.HEIC");

  PROPVARIANT copy;
  PropVariantInit(&copy);
  ASSERT_EQ(PropVariantCopy(&copy, &source), S_OK);
  EXPECT_EQ(copy.vt, VT_LPWSTR);
  EXPECT_NE(copy.pwszVal, source.pwszVal);
  EXPECT_STREQ(copy.pwszVal, L"IMG_0001.HEIC");

  EXPECT_EQ(PropVariantClear(&source), S_OK);
  EXPECT_EQ(source.vt, VT_EMPTY);
  EXPECT_EQ(source.pwszVal, nullptr);
  EXPECT_STREQ(copy.pwszVal, L"IMG_0001.HEIC");
  EXPECT_EQ(PropVariantClear(&copy), S_OK);
}

TEST(PropVariant, InterfacesAreReferencedByCopyAndReleasedByClear) {
  auto* object = new win32_test::CountedObject();
  PROPVARIANT source;
  PropVariantInit(&source);
  source.vt = VT_UNKNOWN;
  source.punkVal = object;  // takes the creation reference

  PROPVARIANT copy;
  PropVariantInit(&copy);
  ASSERT_EQ(PropVariantCopy(&copy, &source), S_OK);
  EXPECT_EQ(PropVariantClear(&source), S_OK);
  EXPECT_EQ(win32_test::live_objects.load(), 1);
  EXPECT_EQ(PropVariantClear(&copy), S_OK);
  EXPECT_EQ(win32_test::live_objects.load(), 0);
}

TEST(PropVariant, GuidsAndByteVectorsAreOwnedBlocks) {
  PROPVARIANT guid;
  PropVariantInit(&guid);
  guid.vt = VT_CLSID;
  guid.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
  *guid.puuid = win32_test::kCountedClass;

  PROPVARIANT guid_copy;
  ASSERT_EQ(PropVariantCopy(&guid_copy, &guid), S_OK);
  EXPECT_NE(guid_copy.puuid, guid.puuid);
  EXPECT_TRUE(IsEqualGUID(*guid_copy.puuid, win32_test::kCountedClass));
  EXPECT_EQ(PropVariantClear(&guid), S_OK);
  EXPECT_EQ(PropVariantClear(&guid_copy), S_OK);

  PROPVARIANT bytes;
  PropVariantInit(&bytes);
  bytes.vt = VT_VECTOR | VT_UI1;
  bytes.caub.cElems = 3;
  bytes.caub.pElems = static_cast<UCHAR*>(CoTaskMemAlloc(3));
  memcpy(bytes.caub.pElems, "abc", 3);
  PROPVARIANT bytes_copy;
  ASSERT_EQ(PropVariantCopy(&bytes_copy, &bytes), S_OK);
  EXPECT_EQ(bytes_copy.caub.cElems, 3u);
  EXPECT_EQ(memcmp(bytes_copy.caub.pElems, "abc", 3), 0);
  EXPECT_EQ(PropVariantClear(&bytes), S_OK);
  EXPECT_EQ(PropVariantClear(&bytes_copy), S_OK);
}

TEST(PropVariant, PlainValuesClearToEmpty) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_DATE;
  value.date = 45121.5;
  EXPECT_EQ(PropVariantClear(&value), S_OK);
  EXPECT_EQ(value.vt, VT_EMPTY);
  EXPECT_EQ(PropVariantClear(nullptr), S_OK);
}

}  // namespace
