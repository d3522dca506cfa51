// How a walk reads the properties of the objects a container lists: many at
// once where the device serves IPortableDevicePropertiesBulk, one GetValues
// per object otherwise, and one GetValues for each object a bulk request
// did not answer for. Both ways give the walk the same values.
#ifndef SNAPFERRY_WPD_PROPERTY_READER_H_
#define SNAPFERRY_WPD_PROPERTY_READER_H_

#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

#include "wpd/com_ptr.h"
#include "wpd/media_walk.h"

namespace snapferry {

// How long a bulk request may go without a word from the device (its
// start, a batch of results, its end) before the walk cancels it and reads
// the objects one by one: 60 s unless set. Process-wide; for tests.
void SetBulkReadPatience(std::chrono::milliseconds patience);
std::chrono::milliseconds BulkReadPatience();

class PropertyReader {
 public:
  // Asks `properties` whether it serves bulk reads (a QueryInterface, which
  // costs no round trip). `keys` are the properties every read asks for.
  // `calls`, when given, counts the device calls the reads make.
  PropertyReader(IPortableDeviceProperties* properties,
                 IPortableDeviceKeyCollection* keys,
                 WalkCalls* calls = nullptr);
  ~PropertyReader();
  PropertyReader(const PropertyReader&) = delete;
  PropertyReader& operator=(const PropertyReader&) = delete;

  bool bulk() const { return static_cast<bool>(bulk_); }
  // How many ids the walk gathers with Next before it reads their values:
  // a chunk for one bulk request, else as few as one Next gives.
  size_t ids_per_read() const { return bulk_ ? kIdsPerBulkRequest : 1; }

  // Reads the values of `ids` in one bulk request, for Read to hand out. A
  // request that cannot be made, fails, or goes silent for longer than the
  // patience leaves the objects it did not answer for to Read's own
  // GetValues; after a silent one the walk reads one by one to its end.
  void Prefetch(const LPWSTR* ids, size_t count);
  // The values of `id`: those the last Prefetch brought (matched by
  // WPD_OBJECT_ID, not by order), else one GetValues.
  HRESULT Read(LPCWSTR id, ComPtr<IPortableDeviceValues>* values);

 private:
  // Up to 10 batches of 100 on an iPhone: few round trips, while what is
  // held at once stays small.
  static constexpr size_t kIdsPerBulkRequest = 1000;

  void Count(WalkCalls::Call call, HRESULT hr);

  IPortableDeviceProperties* properties_;
  IPortableDeviceKeyCollection* keys_;
  WalkCalls* calls_;
  ComPtr<IPortableDevicePropertiesBulk> bulk_;
  ComPtr<IPortableDeviceKeyCollection> bulk_keys_;  // keys_ and the id
  std::unordered_map<std::wstring, ComPtr<IPortableDeviceValues>> fetched_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_PROPERTY_READER_H_
