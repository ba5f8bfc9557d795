// tarsel arms: the arms the library can reach, one line each, with the path
// that --arm takes.
#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "tarsel/arm.hpp"

namespace tarsel::tool {

namespace {

struct ArmsOptions {
  bool json = false;
};

void RunArms(const Context& context, const ArmsOptions& o) {
  void* simulator = LoadSimulator(context.connect);
  std::vector<ArmInfo> arms;
  try {
    arms = ListArms();
  } catch (const Error& e) {
    if (simulator != nullptr) ::dlclose(simulator);
    throw Failure(DescribeFailure("listing the arms", e.code()));
  }
  if (o.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ArmInfo& a : arms) {
      list.push_back({{"path", a.path},
                      {"vendor_id", a.vendor_id},
                      {"product_id", a.product_id},
                      {"bus", a.bus},
                      {"address", a.address},
                      {"serial", a.serial},
                      {"product", a.product},
                      {"simulated", a.simulated}});
    }
    fmt::print("{}\n", list.dump(2));
  } else if (arms.empty() && context.connect.sim) {
    const char* socket = std::getenv("TARSEL_SIM_SOCKET");
    if (socket != nullptr && *socket != '\0') {
      fmt::print("No simulated arm found: no tarsel-sim answers on {} (TARSEL_SIM_SOCKET).\n"
                 "Start one with `tarsel-sim --socket {}`, or unset TARSEL_SIM_SOCKET for "
                 "simulated arms in this process.\n",
                 socket, socket);
    } else {
      fmt::print("No simulated arm found.\n");
    }
  } else if (arms.empty()) {
    fmt::print("No arm found. `tarsel doctor` would tell why; --sim lists simulated arms.\n");
  } else {
    fmt::print("{:<16} {:>3} {:>4}  {:<20} {}\n", "PATH", "BUS", "ADDR", "SERIAL", "PRODUCT");
    for (const ArmInfo& a : arms) {
      fmt::print("{:<16} {:>3} {:>4}  {:<20} {}\n", a.path, a.bus, a.address,
                 a.serial.empty() ? "-" : a.serial, a.product.empty() ? "-" : a.product);
    }
  }
  if (simulator != nullptr) ::dlclose(simulator);
}

}  // namespace

void AddArmsCommand(CLI::App& app, const Context& context) {
  auto options = std::make_shared<ArmsOptions>();
  CLI::App* arms = app.add_subcommand(
      "arms", "List the arms the library can reach, with the path --arm takes");
  arms->add_flag("--json", options->json, "Print the list as JSON");
  arms->callback([&context, options] { RunArms(context, *options); });
}

}  // namespace tarsel::tool
