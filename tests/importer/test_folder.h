// Files for the importer's tests: a folder of the test's own, and whole
// files read and written.

#ifndef SNAPFERRY_TESTS_IMPORTER_TEST_FOLDER_H_
#define SNAPFERRY_TESTS_IMPORTER_TEST_FOLDER_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>

namespace importer {
namespace import_test {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Writes `bytes` to `path`, making the folders above it.
inline void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

using Tree = std::map<std::string, std::string>;  // relative path -> bytes

// Every file below `folder` with its bytes, and every folder ("<folder>").
inline Tree TreeBelow(const fs::path& folder) {
  Tree tree;
  if (!fs::exists(folder)) return tree;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name =
        entry.path().lexically_relative(folder).generic_u8string();
    tree[name] = entry.is_directory() ? "<folder>" : ReadFile(entry.path());
  }
  return tree;
}

// Removes `root` and all below it, also below MAX_PATH: there the C++
// library needs the long-path form on Windows.
inline void RemoveTree(const fs::path& root) {
  std::error_code ignored;
  fs::remove_all(root, ignored);
  if (fs::exists(root, ignored)) {
    fs::remove_all(fs::path(L"\\\\?\\" + fs::absolute(root).wstring()),
                   ignored);
  }
}

// An empty folder below the system's temporary folder, removed with all
// below it when this goes. The test's name and a random number keep tests,
// and other worktrees' runs of them, apart.
class TestFolder {
 public:
  explicit TestFolder(std::string name) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    name += std::string(test != nullptr ? test->name() : "") + "_" +
            std::to_string(std::random_device()());
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests
    path_ = fs::temp_directory_path() / name;
    RemoveTree(path_);
    fs::create_directories(path_);
  }
  ~TestFolder() { RemoveTree(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace import_test
}  // namespace importer

#endif  // SNAPFERRY_TESTS_IMPORTER_TEST_FOLDER_H_
