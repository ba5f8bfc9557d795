// The client configuration block: command 1 reads it, command 0 writes it.
#include "config/config_codec.h"
#include "core/catalogue.h"
#include "core/exchange.h"
#include "tarsel/result.h"

namespace {

using Block = tarsel::Form<ClientConfigurations>;
constexpr int kSize = tarsel::config::kClientConfigurationSize;

}  // namespace

int DeserializeClientConfiguration(int& offset, const Payload& payload, ClientConfigurations& out) {
  return tarsel::Decode(offset, payload, out);
}

int SerializeClientConfiguration(int& offset, Payload& payload, ClientConfigurations config) {
  tarsel::Encode(payload, config);
  offset = tarsel::Advance(offset, kSize);
  return 1;
}

extern "C" {

int GetClientConfigurations(ClientConfigurations* config) {
  if (config == nullptr) return TARSEL_ERROR_ARGUMENT;
  return tarsel::ReadRecord(tarsel::command::GetClientConfigurations,
                            DeserializeClientConfiguration, *config);
}

// Written straight into the packets from the caller's record.
int SetClientConfigurations(ClientConfigurations config) {
  return tarsel::StreamWrite(tarsel::command::SetClientConfigurations, kSize,
                             [&](tarsel::PacketWriter& w) { tarsel::WriteForm<Block>(w, config); });
}

}  // extern "C"
