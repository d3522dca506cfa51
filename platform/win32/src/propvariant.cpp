// PropVariantClear and PropVariantCopy for the value types the system and
// its simulated devices exchange.
#include <propidl.h>

#include <cstring>
#include <cwchar>

namespace {

bool IsPlainType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
    case VT_FILETIME:
      return true;
    default:
      return false;
  }
}

template <typename T>
T* DuplicateBlock(const T* source, size_t count) {
  if (source == nullptr) return nullptr;
  auto* copy = static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)));
  if (copy != nullptr && count != 0)
    std::memcpy(copy, source, count * sizeof(T));
  return copy;
}

LPWSTR DuplicateWide(LPCWSTR text) {
  return text == nullptr ? nullptr : DuplicateBlock(text, wcslen(text) + 1);
}

}  // namespace

HRESULT PropVariantClear(PROPVARIANT* value) {
  if (value == nullptr) return S_OK;
  const VARTYPE vt = value->vt;
  if (IsPlainType(vt)) {
    // Nothing owned.
  } else if (vt == VT_LPWSTR) {
    CoTaskMemFree(value->pwszVal);
  } else if (vt == VT_LPSTR) {
    CoTaskMemFree(value->pszVal);
  } else if (vt == VT_CLSID) {
    CoTaskMemFree(value->puuid);
  } else if (vt == VT_BLOB) {
    CoTaskMemFree(value->blob.pBlobData);
  } else if (vt == VT_UNKNOWN || vt == VT_STREAM) {
    if (value->punkVal != nullptr) value->punkVal->Release();
  } else if (vt == (VT_VECTOR | VT_UI1)) {
    CoTaskMemFree(value->caub.pElems);
  } else if (vt == (VT_VECTOR | VT_LPWSTR)) {
    for (ULONG i = 0; i < value->calpwstr.cElems; ++i) {
      CoTaskMemFree(value->calpwstr.pElems[i]);
    }
    CoTaskMemFree(value->calpwstr.pElems);
  } else {
    return DISP_E_BADVARTYPE;
  }
  PropVariantInit(value);
  return S_OK;
}

HRESULT PropVariantCopy(PROPVARIANT* dest, const PROPVARIANT* source) {
  if (dest == nullptr || source == nullptr) return E_INVALIDARG;
  const VARTYPE vt = source->vt;
  PROPVARIANT copy = *source;
  copy.wReserved1 = copy.wReserved2 = copy.wReserved3 = 0;
  if (IsPlainType(vt)) {
  } else if (vt == VT_LPWSTR) {
    copy.pwszVal = DuplicateWide(source->pwszVal);
  } else if (vt == VT_LPSTR) {
    copy.pszVal =
        source->pszVal == nullptr
            ? nullptr
            : DuplicateBlock(source->pszVal, std::strlen(source->pszVal) + 1);
  } else if (vt == VT_CLSID) {
    copy.puuid = DuplicateBlock(source->puuid, 1);
  } else if (vt == VT_BLOB) {
    copy.blob.pBlobData =
        DuplicateBlock(source->blob.pBlobData, source->blob.cbSize);
  } else if (vt == VT_UNKNOWN || vt == VT_STREAM) {
    if (copy.punkVal != nullptr) copy.punkVal->AddRef();
  } else if (vt == (VT_VECTOR | VT_UI1)) {
    copy.caub.pElems = DuplicateBlock(source->caub.pElems, source->caub.cElems);
  } else if (vt == (VT_VECTOR | VT_LPWSTR)) {
    const ULONG count = source->calpwstr.cElems;
    copy.calpwstr.pElems =
        static_cast<LPWSTR*>(CoTaskMemAlloc(count * sizeof(LPWSTR)));
    if (copy.calpwstr.pElems == nullptr) return E_OUTOFMEMORY;
    for (ULONG i = 0; i < count; ++i) {
      copy.calpwstr.pElems[i] = DuplicateWide(source->calpwstr.pElems[i]);
    }
  } else {
    return DISP_E_BADVARTYPE;
  }
  *dest = copy;
  return S_OK;
}
