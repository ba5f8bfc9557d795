// The link library's SendPacket against a raw libusb OUT+IN pair on the same
// open arm, through the real libusb and the virtual USB bus: the layer should
// add nothing measurable. The two alternate exchange by exchange, so that the
// drift of a shared machine falls on both alike, and the ratio is that of
// their total times. A control run pits the raw pair against itself the same
// way: its distance from 1 is what this harness can resolve on this machine.
//   tarsel_usb_bench [exchanges of each kind] [rounds]
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "tarsel/comm_layer.h"
#include "tarsel/vusb/virtual_arm.h"

namespace {

using Clock = std::chrono::steady_clock;

std::optional<Packet> Echo(const Packet& request) {
  return request;
}

// One exchange of each kind, timed; each returns microseconds.
double RawExchange() {
  unsigned char out[TARSEL_PACKET_SIZE] = {1, 0, 1, 0, 105, 0, 1, 0};
  unsigned char in[TARSEL_PACKET_SIZE];
  int n = 0;
  const auto start = Clock::now();
  libusb_interrupt_transfer(miraHandle, TARSEL_USB_ENDPOINT_OUT, out, sizeof out, &n,
                            TARSEL_USB_TIMEOUT_MS);
  libusb_interrupt_transfer(miraHandle, TARSEL_USB_ENDPOINT_IN, in, sizeof in, &n,
                            TARSEL_USB_TIMEOUT_MS);
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double LinkExchange() {
  Packet request{};
  request.PacketIndex = 1;
  request.PacketCount = 1;
  request.CommandId = 105;
  request.PayloadSize = 1;
  Packet answer{};
  int reserved = 0;
  const auto start = Clock::now();
  SendPacket(request, answer, reserved);
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Pairing {
  double first = 0;   // total microseconds of the first kind
  double second = 0;  // and of the second
};

// exchanges of each kind, alternating, the first kind leading every other pair.
Pairing Alternate(double (*first)(), double (*second)(), int exchanges) {
  Pairing p;
  for (int i = 0; i < exchanges; ++i) {
    if (i % 2 == 0) {
      p.first += first();
      p.second += second();
    } else {
      p.second += second();
      p.first += first();
    }
  }
  return p;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (!tarsel::vusb::EnsurePreloaded(argv)) return 1;
  const int exchanges = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  if (exchanges < 1 || rounds < 1) return 2;
  tarsel::vusb::VirtualArm arm(Echo);
  if (InitCommunication() != 1) return 1;
  // Rounds of link against raw and of raw against raw, interleaved; the
  // median round of each is reported.
  std::vector<double> ratios, controls, raw, link;
  for (int r = 0; r < rounds; ++r) {
    const Pairing measured = Alternate(LinkExchange, RawExchange, exchanges);
    const Pairing control = Alternate(RawExchange, RawExchange, exchanges);
    ratios.push_back(measured.first / measured.second);
    controls.push_back(control.first / control.second);
    link.push_back(measured.first / exchanges);
    raw.push_back(measured.second / exchanges);
  }
  std::printf("raw libusb OUT+IN: %.1f us/exchange (median of %d rounds of %d)\n", Median(raw),
              rounds, exchanges);
  std::printf("SendPacket:        %.1f us/exchange\n", Median(link));
  std::printf("ratio:             %.3f (SendPacket / raw, median round)\n", Median(ratios));
  std::printf("control:           %.3f (raw / raw, the same way: the harness's resolution)\n",
              Median(controls));
  CloseCommunication();
  return 0;
}
