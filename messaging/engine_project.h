// Where the engine finds its files, and what it is started with.

#ifndef SNAPFERRY_MESSAGING_ENGINE_PROJECT_H_
#define SNAPFERRY_MESSAGING_ENGINE_PROJECT_H_

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace flutter {

class EngineProject {
 public:
  // The engine's files lie in `base_path` (used as given, relative or not):
  // "\flutter_assets", "\icudtl.dat" and "\app.so" are appended to it.
  explicit EngineProject(const std::wstring& base_path);

  const std::wstring& assets_path() const { return assets_path_; }
  const std::wstring& icu_data_path() const { return icu_data_path_; }
  const std::wstring& aot_library_path() const { return aot_library_path_; }
  // Empty: the engine's default entry point.
  const std::string& entry_point() const { return entry_point_; }
  const std::vector<std::string>& entry_point_arguments() const {
    return entry_point_arguments_;
  }
  void set_entry_point_arguments(std::vector<std::string>&& arguments) {
    entry_point_arguments_ = std::move(arguments);
  }
  // Passed to the engine as they are; their meaning is the engine's.
  const std::array<int32_t, 3>& engine_options() const {
    return engine_options_;
  }

 private:
  std::wstring assets_path_;
  std::wstring icu_data_path_;
  std::wstring aot_library_path_;
  std::string entry_point_;
  std::vector<std::string> entry_point_arguments_;
  std::array<int32_t, 3> engine_options_ = {0, 0, 0};
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_ENGINE_PROJECT_H_
