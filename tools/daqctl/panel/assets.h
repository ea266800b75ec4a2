// The page's files, built into daqctl (embed_assets.cmake turns them into a
// C++ source at build time): the panel needs no file beside the program and
// no network.
#ifndef DAQCTL_PANEL_ASSETS_H
#define DAQCTL_PANEL_ASSETS_H

#include <cstddef>
#include <string_view>

namespace daqctl::panel {

struct Asset {
  const char* name;  // "panel.js"
  const char* type;  // "application/javascript; charset=utf-8"
  const unsigned char* data;
  size_t size;
  std::string_view text() const { return std::string_view(reinterpret_cast<const char*>(data), size); }
};

// The file called `name`, or nullptr.
const Asset* FindAsset(std::string_view name);

}  // namespace daqctl::panel

#endif
