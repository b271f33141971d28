// Loading the module (dlopen / LoadLibrary) and turning a fault into a report.
#include "module_library.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#endif

namespace abi_host {

namespace {
const char* activity = "starting";

void print_fault() {
  std::fprintf(stderr,
               "FAIL: the module faulted during %s (a call or a read through a slot the host "
               "did not fill, or another bad address)\n",
               activity);
  std::fflush(stderr);
}

#if defined(_WIN32)
LONG WINAPI on_fault(EXCEPTION_POINTERS*) {
  print_fault();
  ExitProcess(3);
}
#else
void on_fault(int) {
  print_fault();
  _exit(3);
}
#endif
}  // namespace

void set_activity(const char* what) { activity = what; }

void report_faults() {
#if defined(_WIN32)
  SetUnhandledExceptionFilter(on_fault);
#else
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_fault;
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(sig, &action, nullptr);
#endif
}

EntryPoint load_entry_point(const std::string& path, const std::string& entry_name) {
#if defined(_WIN32)
  HMODULE library = LoadLibraryA(path.c_str());
  if (!library)
    throw std::runtime_error(path + ": cannot be loaded (error " + std::to_string(GetLastError()) + ")");
  FARPROC entry = GetProcAddress(library, entry_name.c_str());
#else
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) throw std::runtime_error(path + ": cannot be loaded: " + dlerror());
  void* entry = dlsym(library, entry_name.c_str());
#endif
  if (!entry) throw std::runtime_error(path + ": exports no " + entry_name);
  // Through an untyped pointer: the loader's own function type says nothing of the entry's.
  return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(entry));
}

}  // namespace abi_host
