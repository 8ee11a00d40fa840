#include "front/window_module.h"

#include "tools/files.h"

namespace cubesec {

std::string WindowModulePath(const std::string& executable_path, const std::string& relative_path) {
  const size_t slash = executable_path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : executable_path.substr(0, slash);
  return folder + "/" + relative_path;
}

std::unique_ptr<InteractiveSession> LoadWindowSession(Platform& platform,
                                                      const std::string& module_path,
                                                      const std::string& program_name, int argc,
                                                      char** argv, std::string* why) {
  std::string ignored;
  std::string& reason = why != nullptr ? *why : ignored;
  reason.clear();
  // Without the module installed the terminal serves, as the user chose.
  if (!FileExists(platform, module_path)) return nullptr;

  std::unique_ptr<LoadedModule> module = platform.LoadModule(module_path, &reason);
  if (!module) return nullptr;
  auto version =
      reinterpret_cast<WindowModuleVersionFunction>(module->Symbol(kWindowModuleVersionSymbol));
  auto make = reinterpret_cast<MakeWindowSessionFunction>(module->Symbol(kMakeWindowSessionSymbol));
  if (version == nullptr || make == nullptr) {
    reason = module_path + " is not a cubesec window module";
    return nullptr;
  }
  if (const std::string module_version = version(); module_version != CUBESEC_VERSION) {
    reason =
        module_path + " is of version " + module_version + ", the program of " + CUBESEC_VERSION;
    return nullptr;
  }
  std::unique_ptr<InteractiveSession> session(
      make(&platform, program_name.c_str(), argc, argv, &reason));
  if (!session && reason.empty()) reason = "the window module made no window";
  return session;
}

}  // namespace cubesec
