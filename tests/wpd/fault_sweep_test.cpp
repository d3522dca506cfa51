// Every device operation, failed at each call it makes in turn: the k-th
// call on the simulated phone (and, on the Linux stand-in, on the COM
// runtime) answers E_FAIL, E_ACCESSDENIED or ERROR_GEN_FAILURE (what a
// phone that went away answers, though this one stays plugged in), and
// S_FALSE where a call may give less than asked (Next, Read, GetValues; a
// Delete that deletes nothing). Each outcome is compared whole with the table's
// row for the step that failed; a step without a row must leave the outcome
// exactly as undisturbed. Every case must also release every COM object, close
// what it opened, leave COM as it found it, and leave no staging file or file
// handle behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/wpd/simulator/call_log.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/device_outcome.h"
#include "tests/wpd/device_test_util.h"
#include "tests/wpd/object_copy_test_util.h"
#include "wpd/device_discovery.h"
#include "wpd/media_enumeration.h"
#include "wpd/media_scan.h"
#include "wpd/object_copy.h"
#include "wpd/object_deletion.h"
#include "wpd/object_thumbnail.h"

namespace snapferry {
namespace {

using testing_util::kSmallPhone;
using wpd_sim::CallLog;
using wpd_sim::LoggedCall;

constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);

enum class Op {
  kList,
  kScan,
  kEnumerate,
  kCopy,
  kCanDelete,
  kDelete,
  kThumbnail
};
const char* const kOpNames[] = {"list",      "scan",   "enumerate", "copy",
                                "canDelete", "delete", "thumbnail"};

// Which answers of the failed call a row holds for.
enum class When { kAny, kFailure, kDenied, kGone, kLess };

// The outcome when `method` on `target` (its `nth` such call; 0: every one)
// answers as `when` says. "{hr}" stands for the code answered.
struct Row {
  const char* method;
  const char* target;
  int nth;
  When when;
  std::string outcome;
};

struct Table {
  Op op;
  std::string undisturbed;
  std::vector<Row> rows;
};

// --- the expected outcomes --------------------------------------------------

std::string ScanError(const char* step) {
  return std::string("error {hr} \"") + step +
         " failed (HRESULT {hr})\" dcim=0 [] 0/0/0/0/0 0";
}
std::string ScanOk(const char* children, const char* counts) {
  return std::string("ok 0x00000000 \"\" dcim=0 [") + children + "] " + counts;
}
std::string ListingError(const char* step) {
  return std::string("error {hr} \"") + step + " failed (HRESULT {hr})\"";
}
std::string OpError(int status, int64_t bytes, const char* step) {
  return "status=" + std::to_string(status) +
         " bytesWritten=" + std::to_string(bytes) + " hresult={hr} error=\"" +
         step + " failed (HRESULT {hr})\"";
}
// What a walk passed over: "<folder>/<object id>" and the code it met.
std::string Unread(const char* where, const char* hr = "{hr}") {
  return std::string(" unread ") + where + " " + hr + ";";
}
std::string CopyEnded(int64_t bytes) {
  return "status=0 bytesWritten=" + std::to_string(bytes) +
         " hresult=0x00000000 error=\"\"";
}

// The phone's media as listed, in walk order: f2's files, then f1's.
const std::string kO3 = " o3 IMG_0002.JPG 202610_a 2000 2026-10-02T18:30:05;";
const std::string kO3Size0 = " o3 IMG_0002.JPG 202610_a 0 2026-10-02T18:30:05;";
const std::string kO4 = " o4 IMG_0003.PNG 202610_a 1000 2026-10-02T18:30:05;";
const std::string kO4Size0 = " o4 IMG_0003.PNG 202610_a 0 2026-10-02T18:30:05;";
const std::string kO1 =
    " o1 IMG_0001.HEIC 202609_a 197608 2026-09-14T10:00:00;";
const std::string kO1Size0 =
    " o1 IMG_0001.HEIC 202609_a 0 2026-09-14T10:00:00;";
const std::string kO2 = " o2 IMG_0001.MOV 202609_a 3000 2026-09-14T10:00:00;";
const std::string kO2Size0 = " o2 IMG_0001.MOV 202609_a 0 2026-09-14T10:00:00;";

constexpr When kAny = When::kAny, kFailure = When::kFailure,
               kDenied = When::kDenied, kGone = When::kGone,
               kLess = When::kLess;

// Creating the client information, the device and opening it: one outcome.
std::vector<Row> OpenRows(const std::string& outcome) {
  std::vector<Row> rows;
  for (const char* method : {"CoCreateInstance", "Factory.CreateInstance"}) {
    for (const char* target : {"CreateValues", "CreateDevice"}) {
      rows.push_back({method, target, 0, kFailure, outcome});
    }
  }
  rows.push_back({"Device.Open", "", 0, kFailure, outcome});
  return rows;
}

std::vector<Row> Join(std::vector<Row> a, const std::vector<Row>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Table> Tables() {
  const std::string scan_prepare = ScanError("Prepare content access");
  const std::string scan_all = ScanOk("202609_a,202610_a", "2/1/1/0/0 203608");
  const std::string no_storage =
      "noStorage 0x00000000 \"\" dcim=0 [] 0/0/0/0/0 0";
  const std::string empty_storage =
      "emptyStorage 0x00000000 \"\" dcim=0 [] 0/0/0/0/0 0";
  const std::string list_prepare = ListingError("Prepare content access");
  const std::string list_all = "ok" + kO3 + kO4 + kO1 + kO2;
  const std::string copy_open = OpError(3, 0, "Open device");
  const std::string cannot_tell = "canDelete=-1";
  // After a Delete that answered success, the object read again.
  const std::string unconfirmed =
      "status=3 bytesWritten=0 hresult={hr} error=\"Delete object could not "
      "be confirmed (HRESULT {hr})\"";
  const std::string still_there =
      "status=3 bytesWritten=0 hresult=0x80004005 error=\"Delete object "
      "failed: the object is still on the device\"";
  return {
      {Op::kList,
       "Anna's iPhone|Apple Inc.|Apple iPhone|apple;",
       {
           {"CoInitializeEx", "", 0, kFailure,
            "error: COM initialisation failed"},
           {"CoCreateInstance", "CreateManager", 0, kFailure,
            "error: Create PortableDeviceManager failed (HRESULT {hr})"},
           {"Factory.CreateInstance", "CreateManager", 0, kFailure,
            "error: Create PortableDeviceManager failed (HRESULT {hr})"},
           {"Manager.GetDevices", "", 0, kFailure,
            "error: GetDevices failed (HRESULT {hr})"},
           // A text that cannot be read is empty; the others still tell.
           {"Manager.GetDeviceFriendlyName", "", 0, kFailure,
            "|Apple Inc.|Apple iPhone|apple;"},
           {"Manager.GetDeviceManufacturer", "", 0, kFailure,
            "Anna's iPhone||Apple iPhone|apple;"},
           {"Manager.GetDeviceDescription", "", 0, kFailure,
            "Anna's iPhone|Apple Inc.||apple;"},
       }},
      {Op::kScan, scan_all,
       Join(
           {
               {"CoInitializeEx", "", 0, kFailure,
                "error 0x00000000 \"COM initialisation failed\" dcim=0 [] "
                "0/0/0/0/0 0"},
               {"CoCreateInstance", "CreateValues", 0, kFailure,
                ScanError("Create client values")},
               {"Factory.CreateInstance", "CreateValues", 0, kFailure,
                ScanError("Create client values")},
               {"CoCreateInstance", "CreateDevice", 0, kFailure,
                ScanError("Create PortableDevice")},
               {"Factory.CreateInstance", "CreateDevice", 0, kFailure,
                ScanError("Create PortableDevice")},
               {"Device.Open", "", 0, kDenied,
                "accessDenied 0x80070005 \"\" dcim=0 [] 0/0/0/0/0 0"},
               {"Device.Open", "", 0, kFailure, ScanError("Open device")},
               {"Device.Content", "", 0, kFailure, scan_prepare},
               {"Content.Properties", "", 0, kFailure, scan_prepare},
               {"CoCreateInstance", "CreateKeyCollection", 0, kFailure,
                scan_prepare},
               {"Factory.CreateInstance", "CreateKeyCollection", 0, kFailure,
                scan_prepare},
               {"Keys.Add", "", 0, kFailure, scan_prepare},
               // The phone answered that it went away, but it is still
               // listed and opens: passed over like any failure.
               {"Content.EnumObjects", "f2", 0, kGone,
                ScanOk("202609_a,202610_a", "1/1/0/0/0 200608") +
                    Unread("202610_a/f2")},
               {"Enum.Next", "f1", 1, kGone,
                ScanOk("202609_a,202610_a", "1/0/1/0/0 3000") +
                    Unread("202609_a/f1")},
               {"Properties.GetValues", "o3", 0, kGone,
                ScanOk("202609_a,202610_a", "1/1/1/0/0 201608") +
                    Unread("202610_a/o3")},
               // Otherwise what cannot be read is passed over and recorded;
               // a Next that gives nothing ends a listing quietly.
               {"Content.EnumObjects", "DEVICE", 0, kFailure,
                no_storage + Unread("/DEVICE")},
               {"Enum.Next", "DEVICE", 1, kLess, no_storage},
               {"Enum.Next", "DEVICE", 1, kFailure,
                no_storage + Unread("/DEVICE")},
               // All properties unreadable: each holds E_FAIL.
               {"Properties.GetValues", "s1", 0, kLess,
                no_storage + Unread("/s1", "0x80004005")},
               {"Properties.GetValues", "s1", 0, kFailure,
                no_storage + Unread("/s1")},
               {"Values.GetGuidValue", "s1 CONTENT_TYPE", 0, kFailure,
                no_storage + Unread("/s1")},
               {"Values.GetStringValue", "s1 NAME", 0, kFailure,
                no_storage + Unread("/s1")},
               {"Content.EnumObjects", "s1", 0, kFailure,
                empty_storage + Unread("Internal Storage/s1")},
               {"Enum.Next", "s1", 1, kLess, empty_storage},
               {"Enum.Next", "s1", 1, kFailure,
                empty_storage + Unread("Internal Storage/s1")},
               {"Properties.GetValues", "f1", 0, kLess,
                ScanOk("202610_a", "1/0/1/0/0 3000") +
                    Unread("Internal Storage/f1", "0x80004005")},
               {"Properties.GetValues", "f1", 0, kFailure,
                ScanOk("202610_a", "1/0/1/0/0 3000") +
                    Unread("Internal Storage/f1")},
               {"Values.GetGuidValue", "f1 CONTENT_TYPE", 0, kFailure,
                ScanOk("202610_a", "1/0/1/0/0 3000") +
                    Unread("Internal Storage/f1")},
               {"Properties.GetValues", "f2", 0, kLess,
                ScanOk("202609_a", "1/1/0/0/0 200608") +
                    Unread("Internal Storage/f2", "0x80004005")},
               {"Properties.GetValues", "f2", 0, kFailure,
                ScanOk("202609_a", "1/1/0/0/0 200608") +
                    Unread("Internal Storage/f2")},
               {"Values.GetGuidValue", "f2 CONTENT_TYPE", 0, kFailure,
                ScanOk("202609_a", "1/1/0/0/0 200608") +
                    Unread("Internal Storage/f2")},
               {"Content.EnumObjects", "f2", 0, kFailure,
                ScanOk("202609_a,202610_a", "1/1/0/0/0 200608") +
                    Unread("202610_a/f2")},
               {"Enum.Next", "f2", 1, kLess,
                ScanOk("202609_a,202610_a", "1/1/0/0/0 200608")},
               {"Enum.Next", "f2", 1, kFailure,
                ScanOk("202609_a,202610_a", "1/1/0/0/0 200608") +
                    Unread("202610_a/f2")},
               {"Content.EnumObjects", "f1", 0, kFailure,
                ScanOk("202609_a,202610_a", "1/0/1/0/0 3000") +
                    Unread("202609_a/f1")},
               {"Enum.Next", "f1", 1, kLess,
                ScanOk("202609_a,202610_a", "1/0/1/0/0 3000")},
               {"Enum.Next", "f1", 1, kFailure,
                ScanOk("202609_a,202610_a", "1/0/1/0/0 3000") +
                    Unread("202609_a/f1")},
               // A file whose properties, content type or name fail is not
               // counted; one without a size counts 0.
               {"Properties.GetValues", "o3", 0, kLess,
                ScanOk("202609_a,202610_a", "1/1/1/0/0 201608") +
                    Unread("202610_a/o3", "0x80004005")},
               {"Properties.GetValues", "o3", 0, kFailure,
                ScanOk("202609_a,202610_a", "1/1/1/0/0 201608") +
                    Unread("202610_a/o3")},
               {"Values.GetGuidValue", "o3 CONTENT_TYPE", 0, kFailure,
                ScanOk("202609_a,202610_a", "1/1/1/0/0 201608") +
                    Unread("202610_a/o3")},
               {"Values.GetStringValue", "o3 ORIGINAL_FILE_NAME", 0, kFailure,
                ScanOk("202609_a,202610_a", "1/1/1/0/0 201608") +
                    Unread("202610_a/o3")},
               {"Values.GetUnsignedLargeIntegerValue", "o3 SIZE", 0, kFailure,
                ScanOk("202609_a,202610_a", "2/1/1/0/0 201608")},
               {"Properties.GetValues", "o4", 0, kLess,
                ScanOk("202609_a,202610_a", "2/1/0/0/0 202608") +
                    Unread("202610_a/o4", "0x80004005")},
               {"Properties.GetValues", "o4", 0, kFailure,
                ScanOk("202609_a,202610_a", "2/1/0/0/0 202608") +
                    Unread("202610_a/o4")},
               {"Values.GetGuidValue", "o4 CONTENT_TYPE", 0, kFailure,
                ScanOk("202609_a,202610_a", "2/1/0/0/0 202608") +
                    Unread("202610_a/o4")},
               {"Values.GetStringValue", "o4 ORIGINAL_FILE_NAME", 0, kFailure,
                ScanOk("202609_a,202610_a", "2/1/0/0/0 202608") +
                    Unread("202610_a/o4")},
               {"Values.GetUnsignedLargeIntegerValue", "o4 SIZE", 0, kFailure,
                ScanOk("202609_a,202610_a", "2/1/1/0/0 202608")},
               {"Properties.GetValues", "o1", 0, kLess,
                ScanOk("202609_a,202610_a", "1/1/1/0/0 6000") +
                    Unread("202609_a/o1", "0x80004005")},
               {"Properties.GetValues", "o1", 0, kFailure,
                ScanOk("202609_a,202610_a", "1/1/1/0/0 6000") +
                    Unread("202609_a/o1")},
               {"Values.GetGuidValue", "o1 CONTENT_TYPE", 0, kFailure,
                ScanOk("202609_a,202610_a", "1/1/1/0/0 6000") +
                    Unread("202609_a/o1")},
               {"Values.GetStringValue", "o1 ORIGINAL_FILE_NAME", 0, kFailure,
                ScanOk("202609_a,202610_a", "1/1/1/0/0 6000") +
                    Unread("202609_a/o1")},
               {"Values.GetUnsignedLargeIntegerValue", "o1 SIZE", 0, kFailure,
                ScanOk("202609_a,202610_a", "2/1/1/0/0 6000")},
               {"Properties.GetValues", "o2", 0, kLess,
                ScanOk("202609_a,202610_a", "2/0/1/0/0 200608") +
                    Unread("202609_a/o2", "0x80004005")},
               {"Properties.GetValues", "o2", 0, kFailure,
                ScanOk("202609_a,202610_a", "2/0/1/0/0 200608") +
                    Unread("202609_a/o2")},
               {"Values.GetGuidValue", "o2 CONTENT_TYPE", 0, kFailure,
                ScanOk("202609_a,202610_a", "2/0/1/0/0 200608") +
                    Unread("202609_a/o2")},
               {"Values.GetStringValue", "o2 ORIGINAL_FILE_NAME", 0, kFailure,
                ScanOk("202609_a,202610_a", "2/0/1/0/0 200608") +
                    Unread("202609_a/o2")},
               {"Values.GetUnsignedLargeIntegerValue", "o2 SIZE", 0, kFailure,
                ScanOk("202609_a,202610_a", "2/1/1/0/0 200608")},
               // A listing whose last Next fails gave everything, but the
               // walk cannot know that.
               {"Enum.Next", "DEVICE", 2, kFailure,
                scan_all + Unread("/DEVICE")},
               {"Enum.Next", "s1", 2, kFailure,
                scan_all + Unread("Internal Storage/s1")},
               {"Enum.Next", "f2", 2, kFailure,
                scan_all + Unread("202610_a/f2")},
               {"Enum.Next", "f1", 2, kFailure,
                scan_all + Unread("202609_a/f1")},
           },
           {})},
      {Op::kEnumerate, list_all,
       Join(
           {
               {"CoInitializeEx", "", 0, kFailure,
                "error 0x00000000 \"COM initialisation failed\""},
               {"Device.Content", "", 0, kFailure, list_prepare},
               {"Content.Properties", "", 0, kFailure, list_prepare},
               {"CoCreateInstance", "CreateKeyCollection", 0, kFailure,
                list_prepare},
               {"Factory.CreateInstance", "CreateKeyCollection", 0, kFailure,
                list_prepare},
               {"Keys.Add", "", 0, kFailure, list_prepare},
               // A went-away code from a phone still there: as the scan.
               {"Content.EnumObjects", "f2", 0, kGone,
                "ok" + kO1 + kO2 + Unread("202610_a/f2")},
               {"Enum.Next", "f1", 1, kGone,
                "ok" + kO3 + kO4 + Unread("202609_a/f1")},
               {"Properties.GetValues", "o3", 0, kGone,
                "ok" + kO4 + kO1 + kO2 + Unread("202610_a/o3")},
               {"Content.EnumObjects", "DEVICE", 0, kFailure,
                "ok" + Unread("/DEVICE")},
               {"Enum.Next", "DEVICE", 1, kLess, "ok"},
               {"Enum.Next", "DEVICE", 1, kFailure, "ok" + Unread("/DEVICE")},
               {"Properties.GetValues", "s1", 0, kLess,
                "ok" + Unread("/s1", "0x80004005")},
               {"Properties.GetValues", "s1", 0, kFailure,
                "ok" + Unread("/s1")},
               {"Values.GetGuidValue", "s1 CONTENT_TYPE", 0, kFailure,
                "ok" + Unread("/s1")},
               // A container whose name cannot be read is not walked: its
               // files would be listed under no folder name.
               {"Values.GetStringValue", "s1 NAME", 0, kFailure,
                "ok" + Unread("/s1")},
               {"Content.EnumObjects", "s1", 0, kFailure,
                "ok" + Unread("Internal Storage/s1")},
               {"Enum.Next", "s1", 1, kLess, "ok"},
               {"Enum.Next", "s1", 1, kFailure,
                "ok" + Unread("Internal Storage/s1")},
               {"Properties.GetValues", "f1", 0, kLess,
                "ok" + kO3 + kO4 + Unread("Internal Storage/f1", "0x80004005")},
               {"Properties.GetValues", "f1", 0, kFailure,
                "ok" + kO3 + kO4 + Unread("Internal Storage/f1")},
               {"Values.GetGuidValue", "f1 CONTENT_TYPE", 0, kFailure,
                "ok" + kO3 + kO4 + Unread("Internal Storage/f1")},
               {"Properties.GetValues", "f2", 0, kLess,
                "ok" + kO1 + kO2 + Unread("Internal Storage/f2", "0x80004005")},
               {"Properties.GetValues", "f2", 0, kFailure,
                "ok" + kO1 + kO2 + Unread("Internal Storage/f2")},
               {"Values.GetGuidValue", "f2 CONTENT_TYPE", 0, kFailure,
                "ok" + kO1 + kO2 + Unread("Internal Storage/f2")},
               {"Content.EnumObjects", "f2", 0, kFailure,
                "ok" + kO1 + kO2 + Unread("202610_a/f2")},
               {"Enum.Next", "f2", 1, kLess, "ok" + kO1 + kO2},
               {"Enum.Next", "f2", 1, kFailure,
                "ok" + kO1 + kO2 + Unread("202610_a/f2")},
               {"Content.EnumObjects", "f1", 0, kFailure,
                "ok" + kO3 + kO4 + Unread("202609_a/f1")},
               {"Enum.Next", "f1", 1, kLess, "ok" + kO3 + kO4},
               {"Enum.Next", "f1", 1, kFailure,
                "ok" + kO3 + kO4 + Unread("202609_a/f1")},
               // A file without properties, content type or name is not
               // listed but recorded; one without a size is listed with 0.
               {"Properties.GetValues", "o3", 0, kLess,
                "ok" + kO4 + kO1 + kO2 + Unread("202610_a/o3", "0x80004005")},
               {"Properties.GetValues", "o3", 0, kFailure,
                "ok" + kO4 + kO1 + kO2 + Unread("202610_a/o3")},
               {"Values.GetGuidValue", "o3 CONTENT_TYPE", 0, kFailure,
                "ok" + kO4 + kO1 + kO2 + Unread("202610_a/o3")},
               {"Values.GetStringValue", "o3 ORIGINAL_FILE_NAME", 0, kFailure,
                "ok" + kO4 + kO1 + kO2 + Unread("202610_a/o3")},
               {"Values.GetUnsignedLargeIntegerValue", "o3 SIZE", 0, kFailure,
                "ok" + kO3Size0 + kO4 + kO1 + kO2},
               {"Properties.GetValues", "o4", 0, kLess,
                "ok" + kO3 + kO1 + kO2 + Unread("202610_a/o4", "0x80004005")},
               {"Properties.GetValues", "o4", 0, kFailure,
                "ok" + kO3 + kO1 + kO2 + Unread("202610_a/o4")},
               {"Values.GetGuidValue", "o4 CONTENT_TYPE", 0, kFailure,
                "ok" + kO3 + kO1 + kO2 + Unread("202610_a/o4")},
               {"Values.GetStringValue", "o4 ORIGINAL_FILE_NAME", 0, kFailure,
                "ok" + kO3 + kO1 + kO2 + Unread("202610_a/o4")},
               {"Values.GetUnsignedLargeIntegerValue", "o4 SIZE", 0, kFailure,
                "ok" + kO3 + kO4Size0 + kO1 + kO2},
               {"Properties.GetValues", "o1", 0, kLess,
                "ok" + kO3 + kO4 + kO2 + Unread("202609_a/o1", "0x80004005")},
               {"Properties.GetValues", "o1", 0, kFailure,
                "ok" + kO3 + kO4 + kO2 + Unread("202609_a/o1")},
               {"Values.GetGuidValue", "o1 CONTENT_TYPE", 0, kFailure,
                "ok" + kO3 + kO4 + kO2 + Unread("202609_a/o1")},
               {"Values.GetStringValue", "o1 ORIGINAL_FILE_NAME", 0, kFailure,
                "ok" + kO3 + kO4 + kO2 + Unread("202609_a/o1")},
               {"Values.GetUnsignedLargeIntegerValue", "o1 SIZE", 0, kFailure,
                "ok" + kO3 + kO4 + kO1Size0 + kO2},
               {"Properties.GetValues", "o2", 0, kLess,
                "ok" + kO3 + kO4 + kO1 + Unread("202609_a/o2", "0x80004005")},
               {"Properties.GetValues", "o2", 0, kFailure,
                "ok" + kO3 + kO4 + kO1 + Unread("202609_a/o2")},
               {"Values.GetGuidValue", "o2 CONTENT_TYPE", 0, kFailure,
                "ok" + kO3 + kO4 + kO1 + Unread("202609_a/o2")},
               {"Values.GetStringValue", "o2 ORIGINAL_FILE_NAME", 0, kFailure,
                "ok" + kO3 + kO4 + kO1 + Unread("202609_a/o2")},
               {"Values.GetUnsignedLargeIntegerValue", "o2 SIZE", 0, kFailure,
                "ok" + kO3 + kO4 + kO1 + kO2Size0},
               {"Enum.Next", "DEVICE", 2, kFailure,
                list_all + Unread("/DEVICE")},
               {"Enum.Next", "s1", 2, kFailure,
                list_all + Unread("Internal Storage/s1")},
               {"Enum.Next", "f2", 2, kFailure,
                list_all + Unread("202610_a/f2")},
               {"Enum.Next", "f1", 2, kFailure,
                list_all + Unread("202609_a/f1")},
           },
           OpenRows(ListingError("Open device")))},
      {Op::kCopy, CopyEnded(197608),
       Join(
           {
               {"CoInitializeEx", "", 0, kFailure,
                "status=3 bytesWritten=0 hresult=0x80004005 error=\"COM "
                "initialisation failed (HRESULT 0x80004005)\""},
               {"Device.Content", "", 0, kFailure,
                OpError(3, 0, "Open transfer")},
               {"Content.Transfer", "", 0, kFailure,
                OpError(3, 0, "Open transfer")},
               {"Resources.GetStream", "o1", 0, kFailure,
                OpError(3, 0, "Open object stream")},
               // Chunks of 64 KiB: a failed read keeps nothing; an early
               // end is the end of the object.
               {"Stream.Read", "o1", 1, kFailure,
                OpError(3, 0, "Read from device")},
               {"Stream.Read", "o1", 2, kFailure,
                OpError(3, 65536, "Read from device")},
               {"Stream.Read", "o1", 3, kFailure,
                OpError(3, 131072, "Read from device")},
               {"Stream.Read", "o1", 4, kFailure,
                OpError(3, 196608, "Read from device")},
               {"Stream.Read", "o1", 5, kFailure,
                OpError(3, 197608, "Read from device")},
               {"Stream.Read", "o1", 1, kLess, CopyEnded(0)},
               {"Stream.Read", "o1", 2, kLess, CopyEnded(65536)},
               {"Stream.Read", "o1", 3, kLess, CopyEnded(131072)},
               {"Stream.Read", "o1", 4, kLess, CopyEnded(196608)},
           },
           OpenRows(copy_open))},
      {Op::kCanDelete, "canDelete=1",
       Join(
           {
               {"CoInitializeEx", "", 0, kFailure, cannot_tell},
               {"Device.Content", "", 0, kFailure, cannot_tell},
               {"Content.Properties", "", 0, kFailure, cannot_tell},
               {"CoCreateInstance", "CreateKeyCollection", 0, kFailure,
                cannot_tell},
               {"Factory.CreateInstance", "CreateKeyCollection", 0, kFailure,
                cannot_tell},
               {"Keys.Add", "CAN_DELETE", 0, kFailure, cannot_tell},
               {"Properties.GetValues", "o3", 0, kAny, cannot_tell},
               {"Values.GetBoolValue", "o3 CAN_DELETE", 0, kFailure,
                cannot_tell},
           },
           OpenRows(cannot_tell))},
      {Op::kDelete, CopyEnded(0),
       Join(
           {
               {"CoInitializeEx", "", 0, kFailure,
                "status=3 bytesWritten=0 hresult=0x00000000 error=\"COM "
                "initialisation failed\""},
               // A Delete answered S_FALSE that did nothing: the object is
               // read again and found.
               {"Content.Delete", "", 0, kLess, still_there},
               // The check after a Delete answered done cannot be made.
               {"Content.Properties", "", 0, kFailure, unconfirmed},
               {"CoCreateInstance", "CreateKeyCollection", 0, kFailure,
                unconfirmed},
               {"Factory.CreateInstance", "CreateKeyCollection", 0, kFailure,
                unconfirmed},
               {"Keys.Add", "ID", 0, kFailure, unconfirmed},
               // (A GetValues answered S_FALSE still finds no object: the
               // deletion stands.)
               {"Properties.GetValues", "o3", 0, kFailure, unconfirmed},
               // Every failing link before is the deletion's failure; a
               // refusal is "not permitted".
               {"", "", 0, kDenied, OpError(2, 0, "Delete object")},
               {"", "", 0, kFailure, OpError(3, 0, "Delete object")},
           },
           {})},
      {Op::kThumbnail, "thumbnail 66536",
       Join(
           {
               {"CoInitializeEx", "", 0, kFailure,
                "error 0x00000000 \"COM initialisation failed\""},
               {"Device.Content", "", 0, kFailure,
                ListingError("Open transfer")},
               {"Content.Transfer", "", 0, kFailure,
                ListingError("Open transfer")},
               {"Resources.GetStream", "o1", 0, kFailure,
                ListingError("Open thumbnail stream")},
               // A failed read keeps nothing; an early end is the end of the
               // thumbnail, and an empty one is none.
               {"Stream.Read", "o1", 0, kFailure,
                ListingError("Read from device")},
               {"Stream.Read", "o1", 1, kLess, "none"},
               {"Stream.Read", "o1", 2, kLess, "thumbnail 65536"},
           },
           OpenRows(ListingError("Open device")))},
  };
}

// --- the sweep
// ----------------------------------------------------------------

// Calls that do not change the deletion's outcome when they fail.
bool Unexamined(const std::string& method) {
  return method.rfind("Values.Set", 0) == 0 || method == "Device.Close";
}

bool Holds(When when, HRESULT hr) {
  switch (when) {
    case When::kAny:
      return true;
    case When::kFailure:
      return FAILED(hr);
    case When::kDenied:
      return hr == E_ACCESSDENIED;
    case When::kGone:
      return hr == kGenFailure;
    case When::kLess:
      return hr == S_FALSE;
  }
  return false;
}

// The row for the nth call of its method and target, or null.
const Row* Find(const Table& table, const LoggedCall& call, int nth,
                HRESULT hr) {
  for (const Row& row : table.rows) {
    bool method =
        *row.method == 0 ? !Unexamined(call.method) : call.method == row.method;
    bool target = *row.target == 0 || call.target == row.target;
    if (method && target && (row.nth == 0 || row.nth == nth) &&
        Holds(row.when, hr)) {
      return &row;
    }
  }
  return nullptr;
}

std::string Fill(std::string text, HRESULT hr) {
  for (size_t at; (at = text.find("{hr}")) != std::string::npos;) {
    text.replace(at, 4, test::Hex(hr));
  }
  return text;
}

struct Outcome {
  std::string outcome;
  bool balanced = false;  // the worker left COM as it found it
};

Outcome RunOperation(Op op, const std::string& staging) {
  const std::string phone = WideToUtf8(kSmallPhone);
  return testing_util::OnWorker([&] {
    Outcome run;
    switch (op) {
      case Op::kList:
        run.outcome = test::Outcome(ListDevices());
        break;
      case Op::kScan:
        run.outcome = test::Outcome(ScanMedia(phone));
        break;
      case Op::kEnumerate:
        run.outcome = test::Outcome(EnumerateMedia(phone));
        break;
      case Op::kCopy: {
        std::atomic<bool> cancel{false};
        run.outcome = test::Outcome(CopyObjectToFile(
            phone, "o1", staging, [](int64_t, int64_t) {}, cancel));
        break;
      }
      case Op::kCanDelete:
        run.outcome = test::Outcome(CanDeleteObject(phone, "o3"));
        break;
      case Op::kDelete:
        run.outcome = test::Outcome(DeleteObject(phone, "o3"));
        break;
      case Op::kThumbnail:
        run.outcome = test::Outcome(ReadThumbnail(phone, "o1"));
        break;
    }
    // Out of COM again: a fresh join is the thread's first.
    wpd_sim::call_log::Internal unrecorded;
    HRESULT join = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    run.balanced = join == S_OK;
    if (SUCCEEDED(join)) CoUninitialize();
    return run;
  });
}

// Runs the operation on a fresh phone with the strike_at-th call answering
// hr (none when 0), and checks that it left nothing behind.
Outcome RunCase(const Table& table, uint64_t strike_at, HRESULT hr,
                std::vector<LoggedCall>* calls,
                std::optional<LoggedCall>* struck, bool bulk = false) {
  wpd_sim::Fixture phone = testing_util::SmallPhone();
  phone.devices.front().Bulk(bulk);
  wpd_sim::Simulator sim(std::move(phone));
  EXPECT_TRUE(sim.ok()) << sim.error();
  test::StagingFolder folder;
  const std::string staging = folder.File("IMG_0001.HEIC");
  Outcome run;
  {
    CallLog log(strike_at, hr);
    run = RunOperation(table.op, staging);
    if (calls != nullptr) *calls = log.calls();
    *struck = log.struck();
  }
  EXPECT_TRUE(run.balanced);
  EXPECT_EQ(sim.LiveObjects(), 0) << sim.LiveObjectsText();
  // A Close that failed left the device open; nothing else may.
  const bool close_failed = *struck && (*struck)->method == "Device.Close";
  EXPECT_EQ(sim.OpenWithoutClose(), close_failed ? 1 : 0);
  // A staging file only after a whole copy, holding what was read.
  if (table.op == Op::kCopy && run.outcome.rfind("status=0 ", 0) == 0) {
    EXPECT_EQ(folder.Entries(), 1u);
    std::string bytes = test::Contents(staging);
    EXPECT_EQ(bytes, test::Pattern(bytes.size()));
    EXPECT_NE(
        run.outcome.find(" bytesWritten=" + std::to_string(bytes.size()) + " "),
        std::string::npos);
  } else {
    EXPECT_EQ(folder.Entries(), 0u);
  }
#ifndef _WIN32
  EXPECT_EQ(win32_standin::OpenFileHandleCount(), 0);
#endif
  return run;
}

// What may a call answer besides failures: less than asked.
bool MayGiveLess(const std::string& method) {
  return method == "Enum.Next" || method == "Stream.Read" ||
         method == "Properties.GetValues" || method == "Content.Delete";
}

TEST(FaultSweepTest, EveryCallOfEveryOperationFailedInTurn) {
  for (const Table& table : Tables()) {
    const char* name = kOpNames[static_cast<int>(table.op)];
    SCOPED_TRACE(name);
    std::vector<LoggedCall> calls;
    std::optional<LoggedCall> struck;
    ASSERT_EQ(RunCase(table, 0, S_OK, &calls, &struck).outcome,
              table.undisturbed);
    std::vector<bool> used(table.rows.size(), false);
    int cases = 0;
    for (size_t k = 1; k <= calls.size(); ++k) {
      const LoggedCall& call = calls[k - 1];
      if (call.method == "CoUninitialize") continue;  // cannot fail
      int nth = 0;
      for (size_t i = 0; i < k; ++i) nth += calls[i] == call;
      std::vector<HRESULT> codes = {E_FAIL, E_ACCESSDENIED, kGenFailure};
      if (MayGiveLess(call.method)) codes.push_back(S_FALSE);
      for (HRESULT hr : codes) {
        SCOPED_TRACE("call " + std::to_string(k) + " " + call.method + " " +
                     call.target + " answering " + test::Hex(hr));
        Outcome run = RunCase(table, k, hr, nullptr, &struck);
        ++cases;
        ASSERT_TRUE(struck.has_value());
        ASSERT_EQ(*struck, call);  // the same calls up to the one struck
        const Row* row = Find(table, call, nth, hr);
        if (row != nullptr) used[row - table.rows.data()] = true;
        EXPECT_EQ(run.outcome,
                  row != nullptr ? Fill(row->outcome, hr) : table.undisturbed);
      }
    }
    std::printf("fault sweep: %s, %zu calls, %d cases\n", name, calls.size(),
                cases);
    // Every row met its step: the table is not stale. (The COM runtime's
    // calls are only seen on the Linux stand-in.)
    for (size_t i = 0; i < table.rows.size(); ++i) {
#ifdef _WIN32
      if (std::string(table.rows[i].method).rfind("Co", 0) == 0) continue;
#endif
      EXPECT_TRUE(used[i]) << "row never met: " << table.rows[i].method << " "
                           << table.rows[i].target;
    }
  }
}

// On a phone that serves bulk reads, every call the scan and the
// enumeration make from the first bulk request on, failed in turn with each
// code: whatever a request did not answer for is read one by one, so the
// operation ends as undisturbed, or as the one-by-one sweep says where the
// struck call is one it also makes.
TEST(FaultSweepTest, EveryCallOfABulkReadFailedInTurn) {
  for (const Table& table : Tables()) {
    if (table.op != Op::kScan && table.op != Op::kEnumerate) continue;
    SCOPED_TRACE(kOpNames[static_cast<int>(table.op)]);
    std::vector<LoggedCall> calls;
    std::optional<LoggedCall> struck;
    ASSERT_EQ(RunCase(table, 0, S_OK, &calls, &struck, true).outcome,
              table.undisturbed);
    int bulk_calls = 0;
    for (size_t k = 1; k <= calls.size(); ++k) {
      const LoggedCall& call = calls[k - 1];
      const bool bulk = call.method.rfind("Bulk.", 0) == 0 ||
                        call.method.rfind("ValuesCollection.", 0) == 0;
      if (!bulk) continue;
      ++bulk_calls;
      for (HRESULT hr : {E_FAIL, kGenFailure}) {
        SCOPED_TRACE("call " + std::to_string(k) + " " + call.method + " " +
                     call.target + " answering " + test::Hex(hr));
        const Outcome run = RunCase(table, k, hr, nullptr, &struck, true);
        ASSERT_TRUE(struck.has_value());
        EXPECT_EQ(*struck, call);
        EXPECT_EQ(run.outcome, table.undisturbed);
      }
    }
    EXPECT_GT(bulk_calls, 2);  // queued, started, its results read
  }
}

}  // namespace
}  // namespace snapferry
