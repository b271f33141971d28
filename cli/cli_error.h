// The one error type of the veilmora command: a message for the user and the exit code the
// command ends with. Everything below main() throws it; main() prints it and exits.
#pragma once

#include <stdexcept>
#include <string>

// Exit codes scripts rely on.
constexpr int kExitSuccess = 0;
constexpr int kExitModuleFailure = 1;  // the module returned a non-zero PF_Err
constexpr int kExitWriteFailure = 1;   // writing an output failed midway (disk full, size limit)
constexpr int kExitBadInput = 2;       // bad usage, unreadable input, unwritable output

struct CliError : std::runtime_error {
  int exit_code;
  CliError(int code, const std::string& message) : std::runtime_error(message), exit_code(code) {}
};

// Bad usage or bad input: exit code 2.
inline CliError bad_input(const std::string& message) { return {kExitBadInput, message}; }

// Work that started and could not be finished, such as a frame that could not be written:
// exit code 1.
inline CliError write_failure(const std::string& message) { return {kExitWriteFailure, message}; }
