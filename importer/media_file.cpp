#include "importer/media_file.h"

#include "importer/channel_client.h"
#include "importer/file_placement.h"
#include "importer/ledger.h"

namespace importer {

MediaFile FileOf(const flutter::EncodableValue& entry,
                 const std::string& destination) {
  MediaFile file;
  file.object_id = StringField(entry, "objectId");
  file.name = SafeComponent(StringField(entry, "name"));
  const std::string parent = StringField(entry, "parentPath");
  file.folder_name = parent.empty() ? "" : SafeComponent(parent);
  file.folder =
      parent.empty() ? destination : JoinPath(destination, file.folder_name);
  file.size = IntField(entry, "size");
  return file;
}

std::string Key(const MediaFile& file) {
  return Ledger::Key(file.folder_name, file.name);
}

std::string DisplayName(const MediaFile& file) {
  return file.folder_name.empty() ? file.name
                                  : file.folder_name + "/" + file.name;
}

}  // namespace importer
