#ifndef TALVOR_EMBEDDING_FLUTTER_PROJECT_H_
#define TALVOR_EMBEDDING_FLUTTER_PROJECT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace flutter {

// Where the application's compiled files lie and how its entry point is
// called. The directory is used as given: a relative one stays relative.
class FlutterProject {
 public:
  explicit FlutterProject(const std::wstring& directory);

  const std::wstring& assets_path() const { return assets_path_; }
  const std::wstring& icu_data_path() const { return icu_data_path_; }
  const std::wstring& aot_library_path() const { return aot_library_path_; }
  const std::string& entrypoint() const { return entrypoint_; }
  const std::vector<std::string>& entrypoint_arguments() const { return entrypoint_arguments_; }
  int32_t option_code_1() const { return option_code_1_; }
  int32_t option_code_2() const { return option_code_2_; }

  // UTF-8 arguments handed to the application's entry point, in order.
  void set_entrypoint_arguments(std::vector<std::string> arguments) {
    entrypoint_arguments_ = std::move(arguments);
  }

 private:
  std::wstring assets_path_;
  std::wstring icu_data_path_;
  std::wstring aot_library_path_;
  std::string entrypoint_;
  std::vector<std::string> entrypoint_arguments_;
  // Engine options this program never changes.
  int32_t option_code_1_ = 0;
  int32_t option_code_2_ = 0;
};

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_FLUTTER_PROJECT_H_
