// Payload forms of the actuator maintenance commands, and the paging of
// firmware images. Each serializer appends its form to the payload's end,
// advances offset by the form's size and returns 1.
#pragma once

#include <cstdint>
#include <vector>

#include "core/form.h"
#include "core/framing.h"
#include "core/payload.h"

// 4 bytes: the address as an unsigned 32-bit value (also the frame type).
TARSEL_API int SerializeActuatorAddress(int& offset, Payload& payload, unsigned int address);

// 8 bytes: the address, then the gain as a float.
TARSEL_API int SerializeTorqueGain(int& offset, Payload& payload, unsigned int address, float gain);

// 16 bytes: the address, then the three PID gains in order.
TARSEL_API int SerializeActuatorPID(int& offset, Payload& payload, unsigned int address, float p,
                                    float i, float d);

// 16 bytes: the address, then the three PID filter values in order.
TARSEL_API int SerializeActuatorPIDFilter(int& offset, Payload& payload, unsigned int address,
                                          float filterP, float filterI, float filterD);

// 48 bytes: twelve floats, appended in wire order to the end of values (which
// is not cleared). Advances offset by 48; returns 1.
TARSEL_API int DeserializePositionCurrentActuators(int& offset, const Payload& payload,
                                                   std::vector<float>& values);

namespace tarsel {

// The records the maintenance commands carry. The flat functions take and give
// plain values; these records are the library's and the simulated arm's own.

// The three values of an actuator's PID gains or PID filter, with the
// actuator's address.
struct ActuatorGains {
  std::uint32_t Address;
  float P, I, D;
};

// An actuator's torque gain (the int the caller passes, as a float).
struct ActuatorTorqueGain {
  std::uint32_t Address;
  float Gain;
};

// One version word: three numbers, the least significant first.
struct VersionWord {
  std::uint8_t Release, Minor, Major;
};

// The versions of the code running on the arm: ten version words, one
// single-byte number, two more version words.
struct CodeVersions {
  VersionWord Words[10];
  std::uint8_t Single;
  VersionWord Further[2];
};

// 16 bytes.
TARSEL_FORM(ActuatorGains) {
  TARSEL_FIELDS(Address, P, I, D);
}

// 8 bytes.
TARSEL_FORM(ActuatorTorqueGain) {
  TARSEL_FIELDS(Address, Gain);
}

// 4 bytes: the fourth carries nothing.
TARSEL_FORM(VersionWord) {
  TARSEL_FIELDS(Release, Minor, Major);
  io.Gap(1);
}

// 52 bytes: three unused bytes follow the single number.
TARSEL_FORM(CodeVersions) {
  TARSEL_FIELDS(Words, Single);
  io.Gap(3);
  TARSEL_FIELDS(Further);
}

static_assert(FormSize<Form<ActuatorGains>>() == 16 && FormSize<Form<ActuatorTorqueGain>>() == 8 &&
              FormSize<Form<CodeVersions>>() == 52);

// Firmware paging: a page covers kFlashPageBytes of the image and travels as
// kFlashPagePackets packets, each carrying the page offset and
// kFlashPacketImageBytes image bytes. Forty packets carry 2080 bytes, so the
// last 32 image bytes of packet 40 repeat the start of the next page.
constexpr std::size_t kFlashPageBytes = 2048;
constexpr int kFlashPagePackets = 40;
constexpr std::size_t kFlashPacketImageBytes = 52;
// The largest image whose page offsets all fit the 32-bit offset field.
constexpr std::uint64_t kFlashMaxImageBytes = 0xFFFFFFFFu;

// Pages an image of size bytes is sent as: size / 2048 + 1 (a final page of
// zeros when size is a multiple of 2048).
inline std::size_t FlashPageCount(std::size_t size) {
  return size / kFlashPageBytes + 1;
}

// Fills page with the 40 packets of the page at pageOffset (a multiple of
// 2048, at most the image's size) for command. Image positions at or past the
// image's end go out as zeros.
void BuildFlashPage(const Payload& image, std::uint32_t pageOffset, unsigned short command,
                    PacketList& page);

}  // namespace tarsel

// Cuts a firmware image into its pages, in page order, each a PacketList of
// 40 packets: PacketIndex 1..40, PacketCount 40, CommandId command,
// PayloadSize 2048; Data holds the page offset (unsigned 32-bit) and 52 image
// bytes. There are image.size() / 2048 + 1 pages. An image larger than
// 4 GiB - 1 byte cannot be addressed and gives no pages.
TARSEL_API std::vector<PacketList> SplitDataByPage(const Payload& image, unsigned short command);
