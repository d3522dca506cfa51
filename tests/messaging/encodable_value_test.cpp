#include "messaging/encodable_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "messaging/event_sink.h"
#include "messaging/method_result.h"
#include "tests/messaging/codec_test_util.h"

namespace flutter {
namespace {

TEST(EncodableValueTest, AlternativesStandInTheWireOrder) {
  static_assert(std::variant_size_v<EncodableValueVariant> == 14);
  static_assert(
      std::is_same_v<std::variant_alternative_t<12, EncodableValueVariant>,
                     CustomValue>);
  EXPECT_EQ(EncodableValue().index(), 0u);
  EXPECT_EQ(EncodableValue(true).index(), 1u);
  EXPECT_EQ(EncodableValue(int32_t{1}).index(), 2u);
  EXPECT_EQ(EncodableValue(int64_t{1}).index(), 3u);
  EXPECT_EQ(EncodableValue(1.0).index(), 4u);
  EXPECT_EQ(EncodableValue(std::string("s")).index(), 5u);
  EXPECT_EQ(EncodableValue(std::vector<uint8_t>{}).index(), 6u);
  EXPECT_EQ(EncodableValue(std::vector<int32_t>{}).index(), 7u);
  EXPECT_EQ(EncodableValue(std::vector<int64_t>{}).index(), 8u);
  EXPECT_EQ(EncodableValue(std::vector<double>{}).index(), 9u);
  EXPECT_EQ(EncodableValue(ValueList{}).index(), 10u);
  EXPECT_EQ(EncodableValue(ValueMap{}).index(), 11u);
  EXPECT_EQ(EncodableValue(CustomValue(3)).index(), 12u);
  EXPECT_EQ(EncodableValue(std::vector<float>{}).index(), 13u);
}

TEST(EncodableValueTest, NarrowCStringIsAStringNeverABool) {
  EncodableValue literal("ok");
  const char* pointer = "ok";
  EncodableValue from_pointer(pointer);
  EncodableValue assigned;
  assigned = "ok";
  for (const EncodableValue* v : {&literal, &from_pointer, &assigned}) {
    ASSERT_TRUE(std::holds_alternative<std::string>(*v));
    EXPECT_EQ(std::get<std::string>(*v), "ok");
  }
}

TEST(EncodableValueTest, StringKeyedMapIteratesInUnsignedByteOrder) {
  ValueMap map;
  map["status"] = 1;
  map["error"] = 2;
  map["hresult"] = 3;
  map["\xC3\xA9t\xC3\xA9"] = 4;  // a byte above 0x7F sorts after ASCII
  map["err"] = 5;                // a proper prefix sorts first
  std::vector<std::string> order;
  for (const auto& entry : map)
    order.push_back(std::get<std::string>(entry.first));
  EXPECT_EQ(order, (std::vector<std::string>{"err", "error", "hresult",
                                             "status", "\xC3\xA9t\xC3\xA9"}));
}

TEST(EncodableValueTest, KeysOfDifferentAlternativesOrderByIndexFirst) {
  ValueMap map{
      {"a", 1}, {int64_t{1}, 2}, {int32_t{7}, 3}, {EncodableValue(), 4}};
  std::vector<size_t> indices;
  for (const auto& entry : map) indices.push_back(entry.first.index());
  EXPECT_EQ(indices, (std::vector<size_t>{0, 2, 3, 5}));
  EXPECT_LT(EncodableValue(int32_t{7}), EncodableValue(int64_t{1}));
  EXPECT_LT(EncodableValue(int64_t{1}), EncodableValue("a"));
}

TEST(EncodableValueTest, ContentOrderingWithinOneAlternative) {
  EXPECT_LT(EncodableValue(false), EncodableValue(true));
  EXPECT_LT(EncodableValue(-1), EncodableValue(0));
  EXPECT_FALSE(EncodableValue() < EncodableValue());
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(EncodableValue(nan) < EncodableValue(1.0));
  EXPECT_LT(EncodableValue(1.0), EncodableValue(nan));  // NaN sorts last
  // Typed lists and byte lists: lexicographic, a proper prefix first.
  EXPECT_LT(EncodableValue(std::vector<int32_t>{1, 2}),
            EncodableValue(std::vector<int32_t>{1, 2, 0}));
  EXPECT_LT(EncodableValue(std::vector<double>{1, 2, 9}),
            EncodableValue(std::vector<double>{1, 3}));
  EXPECT_LT(EncodableValue(std::vector<uint8_t>{0x7F}),
            EncodableValue(std::vector<uint8_t>{0x80}));
  // Lists element by element; maps entry by entry, key before value.
  EXPECT_LT(EncodableValue(ValueList{1, "b"}),
            EncodableValue(ValueList{1, "c"}));
  EXPECT_LT(EncodableValue(ValueList{1, 1}), EncodableValue(ValueList{2}));
  EXPECT_LT(EncodableValue(ValueMap{{"a", 9}}),
            EncodableValue(ValueMap{{"b", 0}}));
  EXPECT_LT(EncodableValue(ValueMap{{"a", 1}}),
            EncodableValue(ValueMap{{"a", 2}}));
  EXPECT_LT(EncodableValue(ValueMap{{"a", 1}}),
            EncodableValue(ValueMap{{"a", 1}, {"b", 0}}));
}

// std::map needs a strict weak ordering; with NaN keys the plain `<` is not
// one (1 ~ NaN ~ 2 while 1 < 2). NaN sorts after every number and with
// every other NaN, in doubles and in double and float list elements.
TEST(EncodableValueTest, NanKeysKeepTheOrderingStrictWeak) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double other_nan = -std::nan("7");  // other sign and payload
  const float fnan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<EncodableValue> table = {-inf,
                                             -1.0,
                                             -0.0,
                                             0.0,
                                             1.0,
                                             inf,
                                             nan,
                                             other_nan,
                                             std::vector<double>{1},
                                             std::vector<double>{nan},
                                             std::vector<double>{nan, 1},
                                             std::vector<double>{other_nan, 2},
                                             std::vector<double>{inf, 5},
                                             std::vector<float>{1},
                                             std::vector<float>{fnan},
                                             std::vector<float>{fnan, -fnan},
                                             std::vector<float>{2, fnan}};
  auto equivalent = [](const EncodableValue& a, const EncodableValue& b) {
    return !(a < b) && !(b < a);
  };
  for (const auto& a : table) {
    EXPECT_FALSE(a < a) << testing::PrintToString(a);
    for (const auto& b : table) {
      for (const auto& c : table) {
        SCOPED_TRACE(testing::PrintToString(a) + " " +
                     testing::PrintToString(b) + " " +
                     testing::PrintToString(c));
        if (a < b && b < c) {
          EXPECT_LT(a, c);
        }
        if (equivalent(a, b) && equivalent(b, c)) {
          EXPECT_TRUE(equivalent(a, c));
        }
      }
    }
  }
  EXPECT_LT(EncodableValue(inf), EncodableValue(nan));
  EXPECT_TRUE(equivalent(-0.0, 0.0));
  EXPECT_TRUE(equivalent(std::vector<double>{nan}, std::vector<double>{-nan}));

  // A map with several NaN keys: one NaN entry, last, and the first NaN
  // decoded keeps its value; it writes and reads back the same.
  ValueMap map;
  for (double key : {2.0, nan, 1.0, other_nan, -0.0, nan, 0.0}) {
    map.emplace(key, static_cast<int32_t>(map.size()));
  }
  std::vector<EncodableValue> keys;
  for (const auto& entry : map) keys.push_back(entry.first);
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[0], EncodableValue(-0.0));
  EXPECT_EQ(keys[2], EncodableValue(2.0));
  EXPECT_TRUE(std::isnan(std::get<double>(keys[3])));
  EXPECT_EQ(map.at(other_nan), EncodableValue(int32_t{1}));
  const auto decoded = flutter_test::Decode(flutter_test::Encode(map));
  const auto* read = std::get_if<ValueMap>(&decoded.value);
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(read->size(), 4u);
  EXPECT_TRUE(std::isnan(std::get<double>(read->rbegin()->first)));
  EXPECT_EQ(read->rbegin()->second, EncodableValue(int32_t{1}));
  EXPECT_EQ(read->begin()->second, map.begin()->second);
}

TEST(EncodableValueTest, CustomValueComparesByIdentityAndKeepsItAcrossMoves) {
  struct Point {
    int x, y;
  };
  CustomValue original(Point{3, 4});
  const void* identity = original.identity();
  ASSERT_NE(original.TryGet<Point>(), nullptr);
  EXPECT_EQ(original.TryGet<Point>()->y, 4);
  EXPECT_EQ(original.TryGet<int>(), nullptr);

  CustomValue copy = original;
  EXPECT_NE(copy, original);  // a copy holds a new object
  EXPECT_EQ(copy.TryGet<Point>()->x, 3);
  EXPECT_TRUE(copy < original || original < copy);

  EncodableValue moved(std::move(original));
  EXPECT_EQ(std::get<CustomValue>(moved).identity(), identity);
  EncodableValue same = std::move(moved);
  EXPECT_EQ(std::get<CustomValue>(same).identity(), identity);
}

// Records what reaches each virtual slot.
class RecordingResult : public MethodResult, public EventSink {
 public:
  std::vector<std::string> calls;
  std::vector<const EncodableValue*> pointers;

 protected:
  void SuccessInternal(const EncodableValue* value) override {
    calls.push_back("success");
    pointers.push_back(value);
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    calls.push_back("error " + code + "/" + message);
    pointers.push_back(details);
  }
  void NotImplementedInternal() override { calls.push_back("not implemented"); }
  void EndOfStreamInternal() override { calls.push_back("end"); }
};

TEST(MethodResultTest, PublicOperationsForwardToTheirSlots) {
  RecordingResult recorder;
  MethodResult& result = recorder;
  const EncodableValue null_value;
  const EncodableValue details(int64_t{-2147024891});
  result.Success();
  result.Success(null_value);
  result.Error("bad_args");
  result.Error("wpd_error", "failed", details);
  result.NotImplemented();
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{
                                "success", "success", "error bad_args/",
                                "error wpd_error/failed", "not implemented"}));
  // Success without a value passes none; with a null value, that value.
  EXPECT_EQ(recorder.pointers, (std::vector<const EncodableValue*>{
                                   nullptr, &null_value, nullptr, &details}));
}

TEST(EventSinkTest, PublicOperationsForwardToTheirSlots) {
  RecordingResult recorder;
  EventSink& sink = recorder;
  const EncodableValue event(ValueMap{{"bytes", int64_t{5}}});
  sink.Success(event);
  sink.Success();
  sink.Error("e", "m");
  sink.EndStream();
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{"success", "success",
                                                      "error e/m", "end"}));
  EXPECT_EQ(recorder.pointers,
            (std::vector<const EncodableValue*>{&event, nullptr, nullptr}));
}

}  // namespace
}  // namespace flutter
