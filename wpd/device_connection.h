#ifndef SNAPFERRY_WPD_DEVICE_CONNECTION_H_
#define SNAPFERRY_WPD_DEVICE_CONNECTION_H_

#include <objbase.h>
#include <portabledeviceapi.h>

#include <string>

#include "wpd/com_ptr.h"
#include "wpd/date_text.h"

namespace snapferry {

// The text used when a worker cannot join COM at all.
inline constexpr char kComInitialisationFailed[] = "COM initialisation failed";

// The client identity a device is opened with. The media scan declares
// itself as minor version 1, every other operation as minor version 2.
inline constexpr DWORD kClientMinorVersion = 2;
inline constexpr DWORD kScanClientMinorVersion = 1;

// Creates the client information set with its six values, in the order the
// device expects them: name, major, minor, revision, desired access, quality
// of service.
HRESULT CreateClientInformation(DWORD minor_version, DWORD desired_access,
                                ComPtr<IPortableDeviceValues>& client_info);

// Creates the client information (name "Snapferry", version 0.2.0, the given
// desired access) and opens the device into `device`. Returns the HRESULT of
// the first failing step, or of IPortableDevice::Open. After a failed Open
// `device` still holds the unopened device object.
HRESULT OpenDevice(const std::string& device_id, DWORD desired_access,
                   ComPtr<IPortableDevice>& device);

// Whether a call answered that the device went away (unplugged, switched
// off, its USB link lost): ERROR_DEVICE_NOT_CONNECTED, ERROR_GEN_FAILURE,
// ERROR_NO_SUCH_DEVICE or E_WPD_DEVICE_NOT_OPEN. Nothing more can be read
// from it, so an operation that meets one stops rather than reporting what
// it has seen so far as the whole device.
bool IsDeviceGone(HRESULT hr);

// "<step> failed (HRESULT 0xXXXXXXXX)".
std::string FormatHresultFailure(const char* step, HRESULT hr);

// UTF-8 <-> UTF-16 through the system's converters (flags 0: invalid input is
// replaced, not rejected). Embedded NULs are converted like any other unit.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// One string property, up to its first NUL; empty when it cannot be read.
std::wstring ReadStringValue(IPortableDeviceValues* values,
                             const PROPERTYKEY& key);

// A VT_DATE property as "YYYY-MM-DDTHH:MM:SS" in the device's own clock;
// empty when missing, of another type, or not convertible.
DateText ReadPropertyDate(IPortableDeviceValues* values,
                          const PROPERTYKEY& key);
// A VT_DATE's value the same way; empty when not convertible.
DateText FormatOleDate(double date);
// The same as a string.
std::string FormatPropertyDate(IPortableDeviceValues* values,
                               const PROPERTYKEY& key);

// Lower-cases UTF-16 code units one at a time with the C runtime's default
// locale (in effect A to Z only), as the media checks compare names.
std::wstring LowerCaseUnits(std::wstring text);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_DEVICE_CONNECTION_H_
