// The names a shared object defines in its dynamic symbol table, as nm lists them: what a
// host can look up in it. The module and the frei0r filter are each meant to export only
// their entry points.
#pragma once

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>

inline std::set<std::string> defined_dynamic_symbols(const std::string& path) {
  const std::string command = "nm -D --defined-only '" + path + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::set<std::string> names;
  if (!pipe) return names;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) names.insert(name);
  }
  return names;
}
