// The in-process engine's import interface: what a person sees when they start
// the demo build without a script. It plays the app's part over the real
// channels: it lists the devices, scans and enumerates the first Apple
// device, copies every photo and video into a folder with a live progress
// bar fed by the progress events, prints a summary and closes the window.
//
// Arguments: `--import-to <folder>` names the folder (created when
// missing); without it the import goes to "snapferry-import" in the working
// directory. Each file is copied to a hidden ".part" staging file in its
// folder's subfolder and renamed to its own name once the copy succeeded.

#ifndef PLATFORM_ENGINE_IMPORT_UI_IMPORT_INTERFACE_H_
#define PLATFORM_ENGINE_IMPORT_UI_IMPORT_INTERFACE_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/engine/inprocess/interface.h"

namespace import_ui {

inline constexpr char kImportToArgument[] = "--import-to";
inline constexpr char kDefaultFolder[] = "snapferry-import";

// The import, over `host`'s channels.
std::unique_ptr<engine_inprocess::EngineInterface> CreateImportInterface(
    const std::vector<std::string>& arguments,
    engine_inprocess::InterfaceHost& host);

// A file or folder name from the device made safe as one path component on
// either platform: separators, reserved and control characters become '_'.
std::string SafeComponent(const std::string& name);

// "[#####-----]  50%", `width` cells; fraction clamped to [0, 1].
std::string ProgressBar(double fraction, int width);

// "0 B", "999 B", "1.5 KB", "12.0 MB", "1.2 GB" (powers of 1024).
std::string FormatBytes(long long bytes);

}  // namespace import_ui

#endif  // PLATFORM_ENGINE_IMPORT_UI_IMPORT_INTERFACE_H_
