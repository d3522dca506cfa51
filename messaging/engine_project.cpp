#include "messaging/engine_project.h"

namespace flutter {

EngineProject::EngineProject(const std::wstring& base_path)
    : assets_path_(base_path + L"\\flutter_assets"),
      icu_data_path_(base_path + L"\\icudtl.dat"),
      aot_library_path_(base_path + L"\\app.so") {}

}  // namespace flutter
