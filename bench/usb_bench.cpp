// The link library's SendPacket against a raw libusb OUT+IN pair on the same
// open arm, through the real libusb and the virtual USB bus: the layer should
// add nothing measurable. The two run in alternating batches so that drift of
// a loaded machine falls on both alike. Prints microseconds per exchange and
// the ratio.
//   tarsel_usb_bench [exchanges per batch] [batches]
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

double RawPair(int exchanges) {
  unsigned char out[TARSEL_PACKET_SIZE] = {1, 0, 1, 0, 105, 0, 1, 0};
  unsigned char in[TARSEL_PACKET_SIZE];
  const auto start = Clock::now();
  for (int i = 0; i < exchanges; ++i) {
    int n = 0;
    libusb_interrupt_transfer(miraHandle, TARSEL_USB_ENDPOINT_OUT, out, sizeof out, &n,
                              TARSEL_USB_TIMEOUT_MS);
    libusb_interrupt_transfer(miraHandle, TARSEL_USB_ENDPOINT_IN, in, sizeof in, &n,
                              TARSEL_USB_TIMEOUT_MS);
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / exchanges;
}

double ThroughLink(int exchanges) {
  Packet request{};
  request.PacketIndex = 1;
  request.PacketCount = 1;
  request.CommandId = 105;
  request.PayloadSize = 1;
  Packet answer{};
  int reserved = 0;
  const auto start = Clock::now();
  for (int i = 0; i < exchanges; ++i) SendPacket(request, answer, reserved);
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / exchanges;
}

}  // namespace

int main(int argc, char** argv) {
  if (!tarsel::vusb::EnsurePreloaded(argv)) return 1;
  const int exchanges = argc > 1 ? std::atoi(argv[1]) : 50;
  const int batches = argc > 2 ? std::atoi(argv[2]) : 40;
  tarsel::vusb::VirtualArm arm(Echo);
  if (InitCommunication() != 1) return 1;
  // Short batches in alternating order; the median batch ratio resists the
  // bursts of a shared machine better than a mean.
  std::vector<double> ratios;
  double raw = 0;
  double link = 0;
  for (int b = 0; b < batches; ++b) {
    double r = 0;
    double l = 0;
    if (b % 2 == 0) {
      r = RawPair(exchanges);
      l = ThroughLink(exchanges);
    } else {
      l = ThroughLink(exchanges);
      r = RawPair(exchanges);
    }
    raw += r;
    link += l;
    ratios.push_back(l / r);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("raw libusb OUT+IN: %.1f us/exchange (mean of %d batches of %d)\n", raw / batches,
              batches, exchanges);
  std::printf("SendPacket:        %.1f us/exchange\n", link / batches);
  std::printf("ratio:             %.3f (median of the batch ratios)\n",
              ratios[ratios.size() / 2]);
  CloseCommunication();
  return 0;
}
