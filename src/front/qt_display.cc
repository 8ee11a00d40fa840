#include "front/qt_display.h"

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <optional>
#include <vector>

#include "tools/text.h"

namespace cubesec {
namespace {

// The display libraries are looked up at run time, as Qt's own platforms do, so the module
// needs neither their headers nor a link to them.
bool CanOpenX11Display(Platform& platform, const std::string& display, std::string* why) {
  std::string error;
  std::unique_ptr<LoadedModule> xcb = platform.LoadModule("libxcb.so.1", &error);
  if (!xcb) {
    *why = error;
    return false;
  }
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(xcb->Symbol("xcb_connect"));
  auto has_error = reinterpret_cast<HasError>(xcb->Symbol("xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(xcb->Symbol("xcb_disconnect"));
  if (!connect || !has_error || !disconnect) {
    *why = "libxcb.so.1 lacks xcb_connect";
    return false;
  }
  // xcb_connect never returns null: a failed connection is an object in an error state.
  void* connection = connect(display.c_str(), nullptr);
  const bool opened = has_error(connection) == 0;
  disconnect(connection);
  if (!opened) *why = "cannot open X display \"" + display + "\"";
  return opened;
}

bool HasWaylandPlugin() {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
  return !platforms.entryList({"libqwayland*"}, QDir::Files).isEmpty();
}

bool CanOpenWaylandDisplay(Platform& platform, const std::string& display, std::string* why) {
  if (!HasWaylandPlugin()) {
    *why = "Qt has no Wayland platform installed";
    return false;
  }
  std::string error;
  std::unique_ptr<LoadedModule> wayland = platform.LoadModule("libwayland-client.so.0", &error);
  if (!wayland) {
    *why = error;
    return false;
  }
  using Connect = void* (*)(const char*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(wayland->Symbol("wl_display_connect"));
  auto disconnect = reinterpret_cast<Disconnect>(wayland->Symbol("wl_display_disconnect"));
  if (!connect || !disconnect) {
    *why = "libwayland-client.so.0 lacks wl_display_connect";
    return false;
  }
  void* connection = connect(display.c_str());
  if (connection == nullptr) {
    *why = "cannot open Wayland display \"" + display + "\"";
    return false;
  }
  disconnect(connection);
  return true;
}

bool IsX11(const std::string& name) { return name == "xcb"; }
bool IsWayland(const std::string& name) { return name.starts_with("wayland"); }

std::vector<std::string> SplitAtSemicolons(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(';', start), text.size());
    std::string part = Trim(text.substr(start, end - start));
    if (!part.empty()) parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::string UsableQtPlatforms(Platform& platform, std::string* why) {
  const std::string chosen = platform.GetEnv("QT_QPA_PLATFORM").value_or("");
  std::vector<std::string> candidates = SplitAtSemicolons(chosen);
  if (candidates.empty()) candidates = {"wayland", "xcb"};
  for (const std::string& name : candidates) {
    if (!IsX11(name) && !IsWayland(name)) return chosen;
  }

  // Each display is tried at most once, whatever the number of entries naming it.
  std::optional<bool> x11_usable;
  std::optional<bool> wayland_usable;
  std::vector<std::string> reasons;
  auto usable = [&](const char* variable, std::optional<bool>& known, auto can_open) {
    if (!known) {
      const std::string display = platform.GetEnv(variable).value_or("");
      std::string reason;
      if (display.empty()) {
        known = false;
      } else {
        known = can_open(platform, display, &reason);
        if (!*known) reasons.push_back(reason);
      }
    }
    return *known;
  };
  std::string usable_list;
  for (const std::string& name : candidates) {
    const bool ok = IsX11(name) ? usable("DISPLAY", x11_usable, CanOpenX11Display)
                                : usable("WAYLAND_DISPLAY", wayland_usable, CanOpenWaylandDisplay);
    if (ok) usable_list += (usable_list.empty() ? "" : ";") + name;
  }
  if (usable_list.empty() && why != nullptr) {
    *why = reasons.empty() ? "no display is set" : reasons.front();
    for (size_t i = 1; i < reasons.size(); ++i) *why += "; " + reasons[i];
  }
  return usable_list;
}

}  // namespace cubesec
