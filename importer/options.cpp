#include "importer/options.h"

#include <cerrno>
#include <cstdlib>

#include "importer/version.h"

namespace importer {
namespace {

// A whole decimal number in [minimum, maximum].
bool ParseNumber(const std::string& text, long minimum, long maximum,
                 int* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || number < minimum || number > maximum) {
    return false;
  }
  *value = static_cast<int>(number);
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& arguments, Options* options,
                  std::string* error) {
  bool folder_given = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool has_value = i + 1 < arguments.size();
    if (argument == "--help" || argument == "-h" || argument == "/?") {
      options->help = true;
    } else if (argument == "--version") {
      options->version = true;
    } else if (argument == "--dry-run") {
      options->dry_run = true;
    } else if (argument == "--demo") {
      options->demo = true;
    } else if (argument == "--device") {
      if (!has_value || arguments[i + 1].empty()) {
        *error = "--device needs a device name or id";
        return false;
      }
      options->device = arguments[++i];
    } else if (argument == "--thumbnails") {
      if (!has_value || arguments[i + 1].empty()) {
        *error = "--thumbnails needs a folder";
        return false;
      }
      options->thumbnails = arguments[++i];
    } else if (argument == "--report") {
      if (!has_value || arguments[i + 1].empty()) {
        *error = "--report needs a file name";
        return false;
      }
      options->report = arguments[++i];
    } else if (argument == "--wait") {
      if (!has_value || !ParseNumber(arguments[i + 1], 0, 24 * 3600,
                                     &options->wait_seconds)) {
        *error = "--wait needs a number of seconds (0 to 86400)";
        return false;
      }
      ++i;
    } else if (argument.size() > 1 && argument[0] == '-' && argument != "-") {
      *error = "unknown option " + argument;
      return false;
    } else if (folder_given) {
      *error = "only one folder can be given (" + options->folder + ", " +
               argument + ")";
      return false;
    } else {
      options->folder = argument;
      folder_given = true;
    }
  }
  if (!options->report.empty() &&
      (folder_given || options->dry_run || !options->thumbnails.empty())) {
    *error =
        "--report describes the device instead of importing: give it no "
        "FOLDER, --dry-run or --thumbnails";
    return false;
  }
  return true;
}

void ApplyPollOverride(const char* value, Options* options) {
  int milliseconds = 0;
  if (value != nullptr && ParseNumber(value, 1, 600000, &milliseconds)) {
    options->poll_milliseconds = milliseconds;
  }
}

void ApplyUnplugNoticeOverride(const char* value, Options* options) {
  int milliseconds = 0;
  if (value != nullptr && ParseNumber(value, 0, 600000, &milliseconds)) {
    options->unplug_notice_milliseconds = milliseconds;
  }
}

std::string HelpText() {
  return "Usage: snapferry-import [FOLDER] [options]\n"
         "\n"
         "Copies every photo and video from a connected iPhone or iPad into\n"
         "FOLDER (default: snapferry-import in the current folder), one\n"
         "subfolder per folder on the phone. Files already there are not\n"
         "copied again, and no file is ever replaced: a different file with\n"
         "the same name is kept and the photo lands beside it as \"NAME "
         "(2)\".\n"
         "\n"
         "Options:\n"
         "  --device NAME   import from the device with this name or id\n"
         "                  (without it: the first Apple device)\n"
         "  --wait SECONDS  how long to wait for a device to be connected and\n"
         "                  unlocked, or plugged in again when it is pulled\n"
         "                  out mid-import (default 300)\n"
         "  --thumbnails FOLDER  also save each photo's thumbnail in FOLDER,\n"
         "                  as NAME.jpg (IMG_0001.HEIC.jpg) in the photo's\n"
         "                  folder; an existing file is never replaced\n"
         "  --dry-run       list what would be imported and what is already\n"
         "                  there, copy nothing\n"
         "  --report FILE   import nothing: write what the device shows and\n"
         "                  how fast it answers into FILE, a text to attach\n"
         "                  to a report of a problem (no photo's content, no\n"
         "                  device name or serial number goes into it)\n"
         "  --demo          use the built-in simulated devices (Windows)\n"
         "  --version       the program's version\n"
         "  --help          this text\n"
         "\n"
         "Exit codes: 0 everything imported or already there, 1 some files\n"
         "failed, 2 no import could start, 130 stopped with Ctrl+C. With\n"
         "--report: 0 written, 2 no device could be opened (the report is\n"
         "written all the same) or FILE could not be written.\n";
}

std::string VersionText() {
  return std::string("snapferry-import ") + SNAPFERRY_VERSION_TEXT + "\n";
}

}  // namespace importer
