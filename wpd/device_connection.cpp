#include "wpd/device_connection.h"

#include <windows.h>
#include <oleauto.h>
#include <portabledevice.h>

#include <cstdint>
#include <cstdio>
#include <cwctype>

namespace snapferry {
namespace {

// "YYYY-MM-DDTHH:MM:SS"
constexpr size_t kPropertyDateLength = 19;
static_assert(kPropertyDateLength <= DateText::kCapacity);

// `value` (below 100) as two decimal digits at `out`.
void PutTwoDigits(unsigned value, char* out) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

HRESULT CreateClientInformation(DWORD minor_version, DWORD desired_access,
                                ComPtr<IPortableDeviceValues>& client_info) {
  HRESULT hr = CoCreateInstance(CLSID_PortableDeviceValues, nullptr,
                                CLSCTX_INPROC_SERVER, IID_IPortableDeviceValues,
                                client_info.PutVoid());
  if (FAILED(hr)) return hr;
  // The device accepts a client whatever these setters answer, so their
  // results are not examined.
  client_info->SetStringValue(WPD_CLIENT_NAME, L"Snapferry");
  client_info->SetUnsignedIntegerValue(WPD_CLIENT_MAJOR_VERSION, 0);
  client_info->SetUnsignedIntegerValue(WPD_CLIENT_MINOR_VERSION, minor_version);
  client_info->SetUnsignedIntegerValue(WPD_CLIENT_REVISION, 0);
  client_info->SetUnsignedIntegerValue(WPD_CLIENT_DESIRED_ACCESS,
                                       desired_access);
  client_info->SetUnsignedIntegerValue(WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE,
                                       0);
  return S_OK;
}

HRESULT OpenDevice(const std::string& device_id, DWORD desired_access,
                   ComPtr<IPortableDevice>& device) {
  ComPtr<IPortableDeviceValues> client_info;
  HRESULT hr =
      CreateClientInformation(kClientMinorVersion, desired_access, client_info);
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(CLSID_PortableDeviceFTM, nullptr, CLSCTX_INPROC_SERVER,
                        IID_IPortableDevice, device.PutVoid());
  if (FAILED(hr)) return hr;
  return device->Open(Utf8ToWide(device_id).c_str(), client_info.get());
}

bool IsDeviceGone(HRESULT hr) {
  switch (static_cast<uint32_t>(hr)) {
    case 0x8007048F:  // HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)
    case 0x8007001F:  // HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)
    case 0x800701B1:  // HRESULT_FROM_WIN32(ERROR_NO_SUCH_DEVICE)
    case 0x802A0002:  // E_WPD_DEVICE_NOT_OPEN
      return true;
    default:
      return false;
  }
}

std::string FormatHresultFailure(const char* step, HRESULT hr) {
  char buffer[96];
  std::snprintf(buffer, sizeof(buffer), "%s failed (HRESULT 0x%08lX)", step,
                static_cast<unsigned long>(static_cast<uint32_t>(hr)));
  return buffer;
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                   static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      wide.data(), length);
  return wide;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                   static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::wstring ReadStringValue(IPortableDeviceValues* values,
                             const PROPERTYKEY& key) {
  CoTaskMemString text;
  HRESULT hr = values->GetStringValue(key, text.Put());
  if (FAILED(hr) || text.get() == nullptr) return std::wstring();
  return std::wstring(text.get());
}

DateText ReadPropertyDate(IPortableDeviceValues* values,
                          const PROPERTYKEY& key) {
  ScopedPropVariant value;
  if (FAILED(values->GetValue(key, value.get())) || value.value().vt != VT_DATE)
    return DateText();
  return FormatOleDate(value.value().date);
}

DateText FormatOleDate(double date) {
  SYSTEMTIME time = {};
  if (VariantTimeToSystemTime(date, &time) == 0) return DateText();
  // "%04u-%02u-%02uT%02u:%02u:%02u", written by hand: a listing formats
  // one date per file, and a format call costs more than the rest of the
  // entry. The converter only gives calendar fields, so each fits its width
  // once the year has at most four digits.
  if (time.wYear > 9999 || time.wMonth > 99 || time.wDay > 99 ||
      time.wHour > 99 || time.wMinute > 99 || time.wSecond > 99) {
    return DateText();
  }
  char text[kPropertyDateLength];
  PutTwoDigits(time.wYear / 100, text);
  PutTwoDigits(time.wYear % 100, text + 2);
  text[4] = '-';
  PutTwoDigits(time.wMonth, text + 5);
  text[7] = '-';
  PutTwoDigits(time.wDay, text + 8);
  text[10] = 'T';
  PutTwoDigits(time.wHour, text + 11);
  text[13] = ':';
  PutTwoDigits(time.wMinute, text + 14);
  text[16] = ':';
  PutTwoDigits(time.wSecond, text + 17);
  return DateText(std::string_view(text, sizeof(text)));
}

std::string FormatPropertyDate(IPortableDeviceValues* values,
                               const PROPERTYKEY& key) {
  return std::string(ReadPropertyDate(values, key).view());
}

std::wstring LowerCaseUnits(std::wstring text) {
  for (wchar_t& unit : text) unit = static_cast<wchar_t>(std::towlower(unit));
  return text;
}

}  // namespace snapferry
