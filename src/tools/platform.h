#pragma once
// The one door to the operating system. Everything that depends on the OS (environment,
// registry, files with owner-only rights, clock and time zone, secure random bytes, the
// system's cryptography, the executable's path, message boxes, starting the editor) goes
// through this interface, so that tests can replace it and a Windows build only adds
// platform_win32.cc.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace cubesec {

/// A calendar date and time in local time (or UTC where a caller says so).
struct LocalDateTime {
  int year = 1970;
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;     // 0..23
  int minute = 0;   // 0..59
  int second = 0;   // 0..60
  int weekday = 4;  // 0 = Sunday .. 6 = Saturday
};

/// A file opened for appending whole lines. Write() hands the bytes to the operating
/// system before it returns, so a killed process loses nothing already written.
class AppendFile {
 public:
  virtual ~AppendFile() = default;
  /// Writes all of `bytes`; false when the OS refused (no space, I/O error).
  virtual bool Write(std::string_view bytes) = 0;
  /// Why the last Write() failed (e.g. "No space left on device"); empty when unknown.
  virtual std::string LastError() const { return {}; }
};

/// What a path names.
enum class PathKind { kNone, kFile, kFolder, kLink, kOther };

/// The standard streams that can carry a dump file's bytes.
enum class StandardStream { kInput, kOutput };

enum class MessageBoxIcon { kNone, kCritical, kExclamation, kInformation };
enum class MessageBoxButtons { kOk, kYesNo };
enum class MessageBoxAnswer { kOk, kYes, kNo, kUnavailable };

struct MessageBoxRequest {
  std::string title;
  std::string text;
  MessageBoxButtons buttons = MessageBoxButtons::kOk;
  MessageBoxIcon icon = MessageBoxIcon::kNone;
  bool default_is_no = false;  // Only for kYesNo.
};

/// A shared module loaded into the process. It stays loaded for the rest of the process
/// even when this object goes: a window toolkit cannot be unloaded safely.
class LoadedModule {
 public:
  virtual ~LoadedModule() = default;
  /// The address of the exported symbol `name`, or nullptr when the module has none.
  virtual void* Symbol(const char* name) = 0;
};

/// Shows message boxes. The run installs the one that fits (Qt, terminal, none).
class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  virtual MessageBoxAnswer Show(const MessageBoxRequest& request) = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Environment and client settings.
  virtual std::optional<std::string> GetEnv(const std::string& name) const = 0;
  /// Reads a value under HKEY_CURRENT_USER. POSIX has no registry: always nullopt.
  virtual std::optional<std::string> ReadRegistryValue(const std::string& sub_key,
                                                       const std::string& value_name) = 0;
  /// The Windows directory; on POSIX $WINDIR when set, else "/etc". Empty when unknown.
  virtual std::string WindowsDirectory() = 0;
  /// Private-profile lookup: sections and keys compare without regard to case; the value
  /// is the text after "=", trimmed, without the quotes around it when it has them; a
  /// UTF-8 byte order mark is passed over. nullopt when the file, section or key is missing.
  virtual std::optional<std::string> ReadIniValue(const std::string& file,
                                                  const std::string& section,
                                                  const std::string& key) = 0;

  // Clock and time zone.
  /// Seconds since 1970-01-01 00:00 UTC.
  virtual int64_t NowUtc() = 0;
  /// The local date and time of an instant, by the platform's time-zone rules.
  virtual LocalDateTime ToLocal(int64_t utc_seconds) = 0;
  /// Milliseconds on a clock that only moves forward (never pinned, unrelated to the
  /// calendar), for pacing what a run shows while it works.
  virtual int64_t SteadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  /// Fills `out` from the OS's secure random source; false when it is unavailable.
  virtual bool SecureRandom(void* out, size_t size) = 0;

  // Cryptography, by the system's own library: a reviewer can trust a well-kept library where
  // a hand-written digest would need proof of its own.
  /// Fills `key` (`size` bytes) with the PBKDF2-HMAC-SHA256 key of `password` and `salt` after
  /// `iterations` rounds (at least 1). False when the library refused.
  virtual bool DerivePbkdf2Sha256(std::string_view password, std::string_view salt,
                                  uint32_t iterations, void* key, size_t size) = 0;
  /// Fills `digest` (32 bytes) with the SHA-256 digest of `data`; false when the library
  /// refused.
  virtual bool Sha256(std::string_view data, void* digest) = 0;
  /// True when the `size` bytes at `a` and `b` are the same; the time taken tells nothing
  /// about where they differ.
  virtual bool EqualInConstantTime(const void* a, const void* b, size_t size) = 0;

  // Files.
  /// Full path of the running executable.
  virtual std::string ExecutablePath() = 0;
  /// Opens `path` for appending, creating it when missing. With `owner_only` the file is
  /// private: one made here gets owner-only rights, and the file is never opened through a
  /// symbolic link (on Windows any reparse point); on POSIX an existing one must also be a
  /// regular file that belongs to the user who runs the program. nullptr with `error` set
  /// when it cannot be opened, or is refused.
  virtual std::unique_ptr<AppendFile> OpenAppend(const std::string& path, bool owner_only,
                                                 std::string* error) = 0;
  /// Creates `path` as a new file for appending; fails, with `error`, when anything (a file,
  /// a folder, a link, even one that points nowhere) already has that name, so nothing is
  /// ever written through an existing file or link.
  virtual std::unique_ptr<AppendFile> CreateNewFile(const std::string& path,
                                                    std::string* error) = 0;
  /// What `path` names. With `follow_links` a symbolic link (on Windows any reparse point)
  /// is what it points to, kNone when that is missing; without, it is kLink.
  virtual PathKind KindOf(const std::string& path, bool follow_links) = 0;
  /// The whole content of the file `path`; false, with the system's reason in `error`
  /// ("No such file or directory"), when it cannot be read.
  virtual bool ReadFile(const std::string& path, std::string& text, std::string* error) = 0;
  /// Gives the file `from` the name `to`, as the system's rename does (on POSIX an existing
  /// `to`, a link included, is replaced in one step). False, with the system's reason.
  virtual bool RenameFile(const std::string& from, const std::string& to, std::string* error) = 0;
  /// Deletes the file `path` (a link itself, not what it points to). False, with the
  /// system's reason.
  virtual bool RemoveFile(const std::string& path, std::string* error) = 0;
  /// Creates `folder` and the folders above it that are missing. False, with the system's
  /// reason.
  virtual bool CreateFolders(const std::string& folder, std::string* error) = 0;
  /// True when the current user may create files in `folder` (an existing folder).
  virtual bool FolderIsWritable(const std::string& folder) = 0;
  /// Makes the existing file `path` readable and writable by its owner only, when others
  /// may read or write it. False, with `error`, when the file is open to others and stays
  /// so, or is a symbolic link (never followed); true when it was private already, is now,
  /// or does not exist.
  virtual bool MakeOwnerOnly(const std::string& path, std::string* error) = 0;
  /// The folder for the user's own state files: $XDG_STATE_HOME, else ~/.local/state on
  /// POSIX. Empty when there is none (no home folder).
  virtual std::string UserStateFolder() = 0;
  /// The folder for the user's own data files: $XDG_DATA_HOME, else ~/.local/share on POSIX;
  /// the local application data folder on Windows. Empty when there is none.
  virtual std::string UserDataFolder() = 0;

  // User interaction.
  virtual bool StdinIsTerminal() = 0;
  /// True when standard error is a terminal (a console on Windows), where a progress line
  /// may be rewritten in place.
  virtual bool StderrIsTerminal() { return false; }
  /// Makes `stream` carry bytes as they are, for a dump file read from or written to it.
  /// Windows opens them in text mode, which writes each LF as CR LF (a dump's CR LF would
  /// become CR CR LF) and reads CR LF as LF and Ctrl+Z as the end; POSIX streams are bytes
  /// already. Call it before the stream's first byte.
  virtual void UseBinaryMode(StandardStream stream) { (void)stream; }
  /// True when a window can be shown (DISPLAY or WAYLAND_DISPLAY on POSIX).
  virtual bool HasDisplay() = 0;
  /// Writes `prompt` to standard error and reads one line from standard input without
  /// showing it: when standard input is a terminal its echo goes off before the prompt
  /// appears and comes back before this returns, also when an interrupt ends the program
  /// meanwhile. The line is without its end; false at the end of input.
  virtual bool ReadSecretLine(std::string_view prompt, std::string& line) = 0;
  /// Shows a message box through the installed presenter; kUnavailable when none.
  virtual MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request) = 0;
  /// Installs the presenter used by ShowMessageBox (not owned; nullptr removes it).
  virtual void SetMessageBoxPresenter(MessageBoxPresenter* presenter) = 0;
  /// Starts the text editor on `path` without waiting and without a shell.
  /// False when no editor was started: `error` then says why, naming the editor, or is
  /// empty when this machine has no editor to start at all.
  virtual bool StartEditor(const std::string& path, std::string* error) = 0;

  // Interruptions.
  /// From now on an interrupt, a termination request or a hang-up (SIGINT, SIGTERM, SIGHUP;
  /// Ctrl+C or a console close on Windows) is noted instead of ending the program, until
  /// StopCatchingInterrupts. Used where ending at once would leave work half done.
  virtual void CatchInterrupts() {}
  virtual void StopCatchingInterrupts() {}
  /// The number of the signal noted since CatchInterrupts, or 0.
  virtual int PendingInterrupt() { return 0; }

  // Loadable modules.
  /// Loads the shared module at `path` (a system library also by its file name alone).
  /// nullptr with `error` set when it cannot be loaded; a platform without loadable
  /// modules always says so.
  virtual std::unique_ptr<LoadedModule> LoadModule(const std::string& path, std::string* error) {
    (void)path;
    if (error) *error = "loadable modules are not supported here";
    return nullptr;
  }
};

/// What the operating system of this build fixes in paths and in what the programs tell
/// their users about it. Each platform file defines it for its own system, so that no other
/// file needs to ask which system it was built for.
struct OsConventions {
  char path_separator;          // what the system writes between folders
  std::string_view separators;  // what it reads as one
  /// How a help text names an environment variable: "$" + name, or "%" + name + "%".
  std::string_view variable_prefix;
  std::string_view variable_suffix;
  /// Where UserStateFolder() and UserDataFolder() look, as a help text names them, with
  /// "%1" for what lies in them (FormatMsg); and the variable whose absence leaves no state
  /// folder at all.
  std::string_view state_folder_help;
  std::string_view data_folder_help;
  std::string_view state_folder_variable;
  /// Help lines (each ending in a line break) on the variables through which the platform
  /// reads the system: its settings folder, the display, the time zone.
  std::string_view environment_help;
  /// Whether a program in `folder` lies where the system keeps programs only: read-only by
  /// convention even when the folder happens to be writable.
  bool (*is_system_program_folder)(std::string_view folder);

  /// `name` as a help text names an environment variable.
  std::string Variable(std::string_view name) const {
    return std::string(variable_prefix).append(name).append(variable_suffix);
  }
  /// `folder` and `name` joined by the separator (none added after one already there).
  std::string Join(std::string_view folder, std::string_view name) const {
    std::string joined(folder);
    if (!joined.empty() && separators.find(joined.back()) == std::string_view::npos) {
      joined += path_separator;
    }
    return joined.append(name);
  }
};

/// The conventions of the system this program was built for.
const OsConventions& ThisOs();

/// The platform of the machine the program runs on.
Platform& SystemPlatform();

}  // namespace cubesec
