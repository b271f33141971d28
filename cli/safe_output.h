// Writing output files so that no failure leaves a partial file behind: the data goes to a
// temporary file in the target folder, which is flushed to disk and renamed over the target
// only when complete. A rename within one folder is atomic, so readers see either the old file
// or the new one; an existing output survives every failure. Temporary files are removed on
// failure, and also when the command is interrupted by SIGINT, SIGTERM or SIGHUP.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Checks that the folder of `path` exists, is a folder and accepts new files (by creating and
// removing a probe file, which also catches read-only mounts where permission bits lie), and
// that `path` itself is not a folder. Throws a CliError (exit 2) naming the path and reason.
void check_output_folder(const std::string& path);

// Creates a fresh temporary file next to `path`, lets `write` fill it (given the temporary
// file's name), then flushes it and renames it over `path`. If `write` throws, or any step
// fails, the temporary file is removed and `path` is left as it was. The new file gets the
// permission bits of the file it replaces, or the usual 0666 less the umask.
void replace_file_atomically(const std::string& path,
                             const std::function<void(const std::string& temp_path)>& write);

// Writes `bytes` to a fresh temporary file next to `path`, checking every write, flushes it to
// disk and renames it over `path`, as above. A write that fails (disk full, file-size limit)
// throws a CliError with exit code 1 naming `path` and the reason; the temporary file is
// removed and `path` is left as it was.
void write_file_atomically(const std::string& path, const std::vector<unsigned char>& bytes);

// Installs the signal handlers that remove pending temporary files before the process dies.
void install_temp_file_cleanup();
