// `veilmora about`, `info` and `params`: what the module says about itself, asked the way a
// host asks it.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/module_session.h"

namespace {

std::string hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

// A property's payload in words; unknown keys as hex bytes.
std::string describe_property(const hostsim::PiplProperty& p) {
  try {
    switch (p.key) {
      case hostsim::kPiplKeyKind: {
        std::string kind = hostsim::fourcc_to_string(p.as_int32());
        return kind + (p.as_int32() == hostsim::kPiplKindEffect ? " (an effect)" : "");
      }
      case hostsim::kPiplKeyName:
      case hostsim::kPiplKeyCategory:
      case hostsim::kPiplKeyMatchName:
        return quoted(p.as_short_string());
      case hostsim::kPiplKeyCodeWin64X86:
        return quoted(p.as_c_string()) + " (entry function)";
      case hostsim::kPiplKeyEffectVersion: {
        const uint32_t v = static_cast<uint32_t>(p.as_int32());
        static const char* const kStages[] = {"develop", "alpha", "beta", "release"};
        return std::to_string(v) + " (" + hex32(v) + "): version " + std::to_string((v >> 19) & 7) +
               "." + std::to_string((v >> 15) & 15) + "." + std::to_string((v >> 11) & 15) + ", " +
               kStages[(v >> 9) & 3] + ", build " + std::to_string(v & 511);
      }
      case hostsim::kPiplKeyGlobalOutFlags:
      case hostsim::kPiplKeyGlobalOutFlags2:
        return hex32(static_cast<uint32_t>(p.as_int32()));
      default:
        break;
    }
    if (p.key == pf_four_cc('e', 'P', 'V', 'R') || p.key == pf_four_cc('e', 'S', 'V', 'R')) {
      auto [major, minor] = p.as_version();
      return std::to_string(major) + "." + std::to_string(minor);
    }
    if (p.payload.size() == 4) return std::to_string(p.as_int32());
    if (p.payload.size() == 2) return std::to_string(p.as_int16());
  } catch (const hostsim::LoadError& e) {
    return std::string("malformed: ") + e.what();
  }
  std::ostringstream bytes;
  for (uint8_t b : p.payload) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X ", b);
    bytes << text;
  }
  return bytes.str();
}

// The number as the slider shows it, with `precision` decimals.
std::string decimals(double v, int precision) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", precision, v);
  return text;
}

std::string nth_choice(const std::string& choices, int n) {
  std::istringstream in(choices);
  std::string item;
  for (int i = 1; std::getline(in, item, '|'); ++i) {
    if (i == n) return item;
  }
  return "?";
}

struct ParamRow {
  std::string type, range, dephault;
};

ParamRow describe_param(const hostsim::Instance& instance, int index, const PF_ParamDef& def) {
  const PF_ParamDefUnion& u = def.u;
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER: {
      const int p = u.fs_d.precision;
      std::string range = decimals(u.fs_d.valid_min, p) + " to " + decimals(u.fs_d.valid_max, p);
      if (u.fs_d.slider_min != u.fs_d.valid_min || u.fs_d.slider_max != u.fs_d.valid_max) {
        range += " (slider " + decimals(u.fs_d.slider_min, p) + " to " +
                 decimals(u.fs_d.slider_max, p) + ")";
      }
      return {"float slider", range, decimals(u.fs_d.dephault, p)};
    }
    case PF_Param_SLIDER: {
      std::string range = std::to_string(u.sd.valid_min) + " to " + std::to_string(u.sd.valid_max);
      if (u.sd.slider_min != u.sd.valid_min || u.sd.slider_max != u.sd.valid_max) {
        range += " (slider " + std::to_string(u.sd.slider_min) + " to " +
                 std::to_string(u.sd.slider_max) + ")";
      }
      return {"integer slider", range, std::to_string(u.sd.dephault)};
    }
    case PF_Param_POPUP: {
      const std::string choices = instance.popup_choices(index);
      return {"popup", "1 to " + std::to_string(u.pd.num_choices) + ": " + choices,
              std::to_string(u.pd.dephault) + " (" + nth_choice(choices, u.pd.dephault) + ")"};
    }
    case PF_Param_ANGLE:
      return {"angle", "any angle (16.16 degrees)", decimals(u.ad.dephault / 65536.0, 2) + " deg"};
    case PF_Param_LAYER:
      return {"layer", "a layer or none",
              u.ld.dephault == PF_LayerDefault_NONE ? "none" : "itself"};
    case PF_Param_GROUP_START:
      return {"group start", "-", "-"};
    case PF_Param_GROUP_END:
      return {"group end", "-", "-"};
    case PF_Param_CHECKBOX:
      return {"checkbox", "off/on", "-"};
    default:
      return {"type " + std::to_string(def.param_type), "-", "-"};
  }
}

void check(const char* what, const hostsim::CommandResult& r) {
  if (r.err != PF_Err_NONE) {
    throw CliError(kExitModuleFailure, std::string("the module failed in ") + what + ": " +
                                           describe_module_error(r.err, r.message()));
  }
}

}  // namespace

int run_about(const std::string& plugin) {
  auto module = load_effect_module(plugin);
  hostsim::set_call_log_limit(0);
  hostsim::Instance instance(*module);
  hostsim::CommandResult about = instance.about();
  check("About", about);
  std::string text = about.message();
  for (char& c : text) {
    if (c == '\r') c = '\n';
  }
  std::cout << text << "\n";
  return kExitSuccess;
}

int run_info(const std::string& plugin) {
  auto module = load_effect_module(plugin);
  hostsim::set_call_log_limit(0);
  std::cout << "module:   " << module->path << "\n";
  std::cout << "entry:    " << module->entry_name << "\n";
  std::cout << "PiPL properties:\n";
  for (const hostsim::PiplProperty& p : module->pipl.properties) {
    std::cout << "  " << hostsim::fourcc_to_string(p.key) << "  " << describe_property(p) << "\n";
  }

  hostsim::Instance instance(*module);
  hostsim::CommandResult setup = instance.global_setup();
  check("global setup", setup);
  instance.global_setdown();

  struct Compared {
    const char* field;
    int32_t key;
    uint32_t reported;
  };
  const Compared rows[] = {
      {"my_version", hostsim::kPiplKeyEffectVersion, setup.out_data.my_version},
      {"out_flags", hostsim::kPiplKeyGlobalOutFlags,
       static_cast<uint32_t>(setup.out_data.out_flags)},
      {"out_flags2", hostsim::kPiplKeyGlobalOutFlags2,
       static_cast<uint32_t>(setup.out_data.out_flags2)},
  };
  std::cout << "global setup reports:\n";
  bool all_match = true;
  for (const Compared& row : rows) {
    const hostsim::PiplProperty* p = module->pipl.find(row.key);
    std::string verdict;
    if (!p || p->payload.size() != 4) {
      verdict = "the PiPL has no " + hostsim::fourcc_to_string(row.key);
      all_match = false;
    } else if (static_cast<uint32_t>(p->as_int32()) == row.reported) {
      verdict = "matches " + hostsim::fourcc_to_string(row.key);
    } else {
      verdict = "DIFFERS from " + hostsim::fourcc_to_string(row.key) + " (" +
                hex32(static_cast<uint32_t>(p->as_int32())) + ")";
      all_match = false;
    }
    std::printf("  %-11s %s  %s\n", row.field, hex32(row.reported).c_str(), verdict.c_str());
  }
  std::cout << (all_match ? "version and flags: match\n" : "version and flags: MISMATCH\n");
  std::cout.flush();
  if (!all_match) {
    throw CliError(kExitModuleFailure,
                   "the PiPL's version or flags differ from what global setup reports");
  }
  return kExitSuccess;
}

int run_params(const std::string& plugin) {
  auto module = load_effect_module(plugin);
  hostsim::set_call_log_limit(0);
  hostsim::Instance instance(*module);
  check("global setup", instance.global_setup());
  check("parameter setup", instance.params_setup());
  const std::vector<PF_ParamDef> params = instance.declared_params();
  std::printf("%-5s  %-20s  %-14s  %-44s  %s\n", "index", "name", "type", "range", "default");
  for (size_t i = 0; i < params.size(); ++i) {
    const int index = static_cast<int>(i) + 1;
    const PF_ParamDef& def = params[i];
    ParamRow row = describe_param(instance, index, def);
    std::string name(def.name, strnlen(def.name, sizeof def.name));
    if (name.empty()) name = "(no name)";
    std::printf("%-5d  %-20s  %-14s  %-44s  %s\n", index, name.c_str(), row.type.c_str(),
                row.range.c_str(), row.dephault.c_str());
  }
  std::printf("%d parameters declared; the host's array holds %d with the input layer\n",
              static_cast<int>(params.size()), instance.num_params());
  instance.global_setdown();
  return kExitSuccess;
}
