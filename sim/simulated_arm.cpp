// The arm's side of the packet framing: answering reads packet by packet,
// reassembling multi-packet writes and firmware pages before they take
// effect, judging every request, and injecting faults.
#include "simulated_arm.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

#include "arm_state.h"
#include "blocks.h"
#include "commands.h"

namespace tarsel::sim {

namespace {

constexpr int kData = TARSEL_PACKET_DATA_SIZE;
constexpr short kErrorBit = 0x4000;
constexpr short kNegativeVerdict = -1;

double SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int PacketsFor(int size) {
  return std::max(1, (size + kData - 1) / kData);
}

Packet Blank() {
  Packet p;
  std::memset(&p, 0, sizeof p);
  return p;
}

// An answer that only carries a verdict for request.
Packet Verdict(const Packet& request, short verdict) {
  Packet a = Blank();
  a.PacketIndex = request.PacketIndex;
  a.PacketCount = request.PacketCount;
  a.CommandId = verdict;
  a.PayloadSize = request.PayloadSize;
  return a;
}

Packet Acknowledge(const Packet& request) {
  return Verdict(request, request.CommandId);
}

// The error bit on a non-negative word, whatever number the request carried.
Packet Refuse(const Packet& request) {
  return Verdict(request, static_cast<short>((request.CommandId & 0x3FFF) | kErrorBit));
}

std::uint32_t Argument(const Packet& request) {
  return static_cast<std::uint32_t>(request.Data[0]) |
         (static_cast<std::uint32_t>(request.Data[1]) << 8) |
         (static_cast<std::uint32_t>(request.Data[2]) << 16) |
         (static_cast<std::uint32_t>(request.Data[3]) << 24);
}

enum Counted { kReads, kWrites, kBares, kRefusals };

}  // namespace

struct SimulatedArm::Impl {
  mutable std::mutex mu;
  ArmState s;
  ClockSource clock;
  double lastClock = 0;
  Observer observer;
  std::vector<Fault> faults;
  long exchanges = 0;
  long silentAfter = -1;  // exchange number after which nothing is answered

  // The answer of a read being served packet by packet, so that a multi-packet
  // answer is one consistent snapshot however time moves between packets.
  int snapshotCommand = -1;
  Bytes snapshot;

  // A write message being reassembled.
  struct Message {
    bool active = false;
    int command = 0;
    int count = 0;
    int size = 0;
    int next = 0;
    Bytes data;
  } message;

  // A firmware page being reassembled.
  struct Page {
    bool active = false;
    std::uint32_t offset = 0;
    int next = 0;
    Bytes data;
  } page;

  void Update() {
    const double now = clock();
    if (!std::isfinite(now)) return;
    const double dt = now - lastClock;
    lastClock = now;
    if (!(dt > 0)) return;  // a clock that stepped back moves nothing
    const double simDt = dt * s.timeScale;
    s.simTime += simDt;
    s.motion.Advance(simDt);
  }

  void Abandon() {
    message.active = false;
    page.active = false;
    snapshotCommand = -1;
  }

  // The first fault matching the request, used up by one; nullptr if none.
  const Fault* MatchFault(const Packet& request, Fault& used) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
      const bool command = it->command == Fault::kAny || it->command == request.CommandId;
      const bool index = it->packetIndex == Fault::kAny || it->packetIndex == request.PacketIndex;
      if (!command || !index || it->times == 0) continue;
      used = *it;
      if (it->times > 0 && --it->times == 0) faults.erase(it);
      return &used;
    }
    return nullptr;
  }

  // The error-bit answer to request, with why for the trace (unless the
  // command's effect said why already).
  Packet Refused(const Packet& request, const char* why) {
    if (s.refusal == nullptr) s.refusal = why;
    return Refuse(request);
  }

  std::optional<Packet> Exchange(const Packet& request) {
    ++exchanges;
    s.refusal = nullptr;
    if (silentAfter >= 0 && exchanges > silentAfter) {
      Abandon();
      return std::nullopt;
    }
    Update();
    Fault fault;
    if (MatchFault(request, fault) != nullptr) {
      Abandon();
      ++s.exchangeCounts[kRefusals];
      switch (fault.kind) {
        case FaultKind::kNoAnswer:
          return std::nullopt;
        case FaultKind::kErrorBit:
          return Refused(request, "an injected fault (error)");
        case FaultKind::kNegativeVerdict:
          s.refusal = "an injected fault (negative)";
          return Verdict(request, kNegativeVerdict);
      }
    }
    const CommandInfo* info = FindCommand(request.CommandId);
    if (info == nullptr) {
      Abandon();
      ++s.exchangeCounts[kRefusals];
      s.refusal = "no command of this arm has that number";
      return Verdict(request, kNegativeVerdict);
    }
    // A message or page in progress is abandoned by any other command.
    if (message.active && message.command != info->id) message.active = false;
    if (page.active && info->shape != Shape::kPage) page.active = false;
    if (snapshotCommand != info->id) snapshotCommand = -1;

    Packet answer;
    switch (info->shape) {
      case Shape::kRead:
        answer = Read(request, *info);
        break;
      case Shape::kWrite:
        answer = Write(request, *info);
        break;
      case Shape::kBare:
        answer = Bare(request);
        break;
      case Shape::kPage:
        answer = FirmwarePage(request);
        break;
    }
    const bool refused = answer.CommandId < 0 || (answer.CommandId & kErrorBit) != 0;
    if (refused) {
      ++s.exchangeCounts[kRefusals];
    } else {
      ++s.exchangeCounts[info->shape == Shape::kRead   ? kReads
                         : info->shape == Shape::kBare ? kBares
                                                       : kWrites];
    }
    return answer;
  }

  Packet Read(const Packet& request, const CommandInfo& info) {
    const int count = PacketsFor(info.size);
    const int index = request.PacketIndex;
    if (index < 1 || index > count) return Refused(request, "no packet of this read has that index");
    if (index == 1 || snapshotCommand != info.id) {
      Outcome outcome;
      snapshot = BuildReadAnswer(info, s, Argument(request), outcome);
      if (outcome != Outcome::kDone) {
        snapshotCommand = -1;
        return Refused(request, "the read cannot be answered");
      }
      snapshotCommand = info.id;
    }
    Packet a = Blank();
    a.PacketIndex = request.PacketIndex;
    a.PacketCount = static_cast<short>(count);
    a.CommandId = request.CommandId;
    a.PayloadSize = static_cast<short>(info.size);
    const std::size_t begin = static_cast<std::size_t>(index - 1) * kData;
    if (begin < snapshot.size()) {
      const std::size_t n = std::min<std::size_t>(kData, snapshot.size() - begin);
      std::memcpy(a.Data, snapshot.data() + begin, n);
    }
    if (index == count) snapshotCommand = -1;
    return a;
  }

  Packet Write(const Packet& request, const CommandInfo& info) {
    const int count = PacketsFor(info.size);
    const int index = request.PacketIndex;
    if (index == 1) {
      message.active = false;
      if (request.PayloadSize != info.size || request.PacketCount != count) {
        return Refused(request, "the message's size or packet count is not the command's");
      }
      message.active = true;
      message.command = info.id;
      message.count = count;
      message.size = info.size;
      message.next = 1;
      message.data.assign(static_cast<std::size_t>(info.size), 0);
    } else if (!message.active || message.command != info.id || index != message.next ||
               request.PacketCount != message.count || request.PayloadSize != message.size) {
      message.active = false;
      return Refused(request, "a packet out of sequence (no message of this command in progress)");
    }
    const std::size_t begin = static_cast<std::size_t>(index - 1) * kData;
    const std::size_t n = std::min<std::size_t>(kData, message.data.size() - begin);
    std::memcpy(message.data.data() + begin, request.Data, n);
    message.next = index + 1;
    if (index < count) return Acknowledge(request);
    message.active = false;
    return ApplyWrite(info.id, message.data, s) == Outcome::kDone
               ? Acknowledge(request)
               : Refused(request, "the written values were refused");
  }

  Packet Bare(const Packet& request) {
    if (request.PacketIndex != 1 || request.PacketCount != 1 || request.PayloadSize != 0) {
      return Refused(request, "a bare command is one packet without payload");
    }
    if (request.CommandId == command::BeginFlash) page.active = false;
    return ApplyBare(request.CommandId, s) == Outcome::kDone
               ? Acknowledge(request)
               : Refused(request, "the command was refused");
  }

  Packet FirmwarePage(const Packet& request) {
    const int index = request.PacketIndex;
    if (!s.programming || request.PacketCount != kPagePackets ||
        request.PayloadSize != kPageBytes || index < 1 || index > kPagePackets) {
      page.active = false;
      return Refused(request, s.programming ? "not a firmware page packet"
                                            : "no firmware programming was begun");
    }
    const std::uint32_t offset = Argument(request);
    // Every page a 32-bit offset can place fits the flash: only the
    // alignment can be wrong.
    static_assert(kFlashBytes >= (std::uint64_t{1} << 32));
    if (index == 1) {
      if (offset % kPageBytes != 0) {
        page.active = false;
        return Refused(request, "a page's offset is a multiple of 2048");
      }
      page.active = true;
      page.offset = offset;
      page.next = 1;
      page.data.assign(static_cast<std::size_t>(kPagePackets * kPageImageBytesPerPacket), 0);
    } else if (!page.active || offset != page.offset || index != page.next) {
      page.active = false;
      return Refused(request, "a page packet out of sequence");
    }
    const std::size_t at = static_cast<std::size_t>(index - 1) * kPageImageBytesPerPacket;
    std::memcpy(page.data.data() + at, request.Data + 4, kPageImageBytesPerPacket);
    page.next = index + 1;
    if (index == kPagePackets) {
      // The last 32 bytes of packet 40 belong to the next page, which brings
      // them again; only the page's own 2048 bytes are written.
      s.firmware.pages[page.offset].assign(page.data.begin(), page.data.begin() + kPageBytes);
      ++s.pagesReceived;
      page.active = false;
    }
    return Acknowledge(request);
  }
};

SimulatedArm::SimulatedArm(Options options) : impl_(std::make_unique<Impl>()) {
  Impl& i = *impl_;
  i.clock = options.clock ? options.clock : ClockSource(SteadySeconds);
  i.lastClock = i.clock();
  if (!std::isfinite(i.lastClock)) i.lastClock = 0;
  ManufactureArm(i.s);
  PowerOn(i.s);
  i.s.hand = options.hand;
  i.s.fingerInitPoints = std::max(0, options.fingerInitPoints);
  if (std::isfinite(options.timeScale) && options.timeScale > 0) i.s.timeScale = options.timeScale;
}

SimulatedArm::~SimulatedArm() = default;

std::optional<Packet> SimulatedArm::Handle(const Packet& request) {
  std::optional<Packet> answer;
  Observer observer;
  const char* why = nullptr;
  {
    std::lock_guard lock(impl_->mu);
    answer = impl_->Exchange(request);
    observer = impl_->observer;
    why = impl_->s.refusal;
  }
  if (observer) observer(request, answer, why);
  return answer;
}

void SimulatedArm::SetObserver(Observer observer) {
  std::lock_guard lock(impl_->mu);
  impl_->observer = std::move(observer);
}

void SimulatedArm::Update() {
  std::lock_guard lock(impl_->mu);
  impl_->Update();
}

void SimulatedArm::SetClock(ClockSource clock) {
  std::lock_guard lock(impl_->mu);
  impl_->clock = clock ? std::move(clock) : ClockSource(SteadySeconds);
  const double now = impl_->clock();
  impl_->lastClock = std::isfinite(now) ? now : 0;
}

void SimulatedArm::SetTimeScale(double scale) {
  std::lock_guard lock(impl_->mu);
  if (!std::isfinite(scale) || !(scale > 0)) return;
  impl_->Update();  // time so far runs at the old scale
  impl_->s.timeScale = scale;
}

void SimulatedArm::SetHandType(HandType hand) {
  std::lock_guard lock(impl_->mu);
  impl_->s.hand = hand;
}

void SimulatedArm::SetFingerInitPoints(int points) {
  std::lock_guard lock(impl_->mu);
  impl_->s.fingerInitPoints = std::max(0, points);
}

void SimulatedArm::PowerCycle() {
  std::lock_guard lock(impl_->mu);
  impl_->Update();
  impl_->Abandon();
  PowerOn(impl_->s);
}

void SimulatedArm::AddFault(const Fault& fault) {
  std::lock_guard lock(impl_->mu);
  if (fault.times != 0) impl_->faults.push_back(fault);
}

void SimulatedArm::ClearFaults() {
  std::lock_guard lock(impl_->mu);
  impl_->faults.clear();
}

void SimulatedArm::UnplugAfter(long n) {
  std::lock_guard lock(impl_->mu);
  impl_->silentAfter = n < 0 ? -1 : impl_->exchanges + n;
}

namespace {

template <std::size_t N>
std::array<float, N> ToFloats(const std::array<double, N>& values) {
  std::array<float, N> out{};
  for (std::size_t k = 0; k < N; ++k) out[k] = static_cast<float>(values[k]);
  return out;
}

}  // namespace

ArmSnapshot SimulatedArm::Snapshot() const {
  std::lock_guard lock(impl_->mu);
  Impl& i = *impl_;
  i.Update();
  const ArmState& s = i.s;
  const Motion& m = s.motion;
  ArmSnapshot out;
  out.joints = ToFloats(m.Position());
  out.fingers = ToFloats(m.Fingers());
  out.jointTargets = ToFloats(i.s.motion.TargetJoints());
  const kinematics::Pose p = m.PoseOf(m.Position());
  out.pose = {static_cast<float>(p.x),  static_cast<float>(p.y),  static_cast<float>(p.z),
              static_cast<float>(p.rx), static_cast<float>(p.ry), static_cast<float>(p.rz)};
  out.queueSize = m.QueueSize();
  out.moving = m.Moving();
  out.simTime = s.simTime;
  out.controlType = s.controlType;
  out.apiControl = s.apiControl;
  out.forceControl = s.forceControl;
  out.currentLimitation = s.currentLimitation;
  out.hand = s.hand;
  out.fingerCount = s.FingerCount();
  out.fingersInitialized = true;
  for (int f = 0; f < 3; ++f) {
    out.fingerFlags[static_cast<std::size_t>(f)] = s.FingerInitialized(f);
    if (f < s.FingerCount() && !s.FingerInitialized(f)) out.fingersInitialized = false;
  }
  out.timeScale = s.timeScale;
  out.serial = s.serial;
  out.model = s.model;
  out.frameType = s.frameType;
  for (std::size_t k = 0; k < out.actuators.size(); ++k) {
    const ActuatorSettings& a = s.actuators[k];
    out.actuators[k] = {a.address, a.pid, a.pidFilter, a.torqueGain};
  }
  out.errors = s.errors;
  out.firmwareSession = s.programming;
  out.firmwarePages = s.pagesReceived;
  out.exchanges = i.exchanges;
  out.unplugged = i.silentAfter >= 0 && i.exchanges >= i.silentAfter;
  return out;
}

std::vector<unsigned char> SimulatedArm::StoredBlock(int readCommand) const {
  std::lock_guard lock(impl_->mu);
  const StoredBlockLine* block = StoredBlockRead(readCommand);
  return block != nullptr ? block->answer(impl_->s.blocks) : std::vector<unsigned char>{};
}

std::vector<unsigned char> SimulatedArm::ForceSetting(int writeCommand) const {
  std::lock_guard lock(impl_->mu);
  const StoredBlockLine* block = StoredBlockWrite(writeCommand);
  if (block == nullptr || block->read != kNoCommand) return {};
  return block->answer(impl_->s.blocks);
}

void SimulatedArm::AddError(const SystemError& entry) {
  std::lock_guard lock(impl_->mu);
  impl_->s.errors.push_back(entry);
}

std::vector<unsigned char> SimulatedArm::FirmwareImage() const {
  std::lock_guard lock(impl_->mu);
  const Flash& flash = impl_->s.firmware;
  Bytes image(static_cast<std::size_t>(flash.Size()), 0);
  for (const auto& [offset, bytes] : flash.pages) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + offset);
  }
  return image;
}

namespace {

// The CRC-32 register after n more bytes of data.
std::uint32_t Crc32Update(std::uint32_t crc, const unsigned char* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

// The same over n zero bytes.
std::uint32_t Crc32Zeros(std::uint32_t crc, std::uint64_t n) {
  static const unsigned char zeros[kPageBytes] = {};
  for (; n > 0; n -= std::min<std::uint64_t>(n, kPageBytes)) {
    crc = Crc32Update(crc, zeros, static_cast<std::size_t>(std::min<std::uint64_t>(n, kPageBytes)));
  }
  return crc;
}

}  // namespace

std::uint32_t SimulatedArm::FirmwareChecksum(std::size_t length) const {
  std::lock_guard lock(impl_->mu);
  const Flash& flash = impl_->s.firmware;
  const std::uint64_t end = std::min<std::uint64_t>(length, flash.Size());
  // Walked page by page, the flash between written pages reading as zeros,
  // without building the image: it can span 4 GiB.
  std::uint32_t crc = 0xFFFFFFFFu;
  std::uint64_t at = 0;
  for (const auto& [offset, bytes] : flash.pages) {
    if (offset >= end) break;
    crc = Crc32Zeros(crc, offset - at);
    const std::uint64_t n = std::min<std::uint64_t>(bytes.size(), end - offset);
    crc = Crc32Update(crc, bytes.data(), static_cast<std::size_t>(n));
    at = offset + n;
  }
  return ~Crc32Zeros(crc, end - at);
}

std::uint32_t Crc32(const unsigned char* data, std::size_t n) {
  return ~Crc32Update(0xFFFFFFFFu, data, n);
}

}  // namespace tarsel::sim
