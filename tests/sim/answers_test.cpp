// The simulated arm's read answers against the command catalogue: every read
// is answered in exactly the size the catalogue gives it, whatever state the
// arm is in; an answer built to another size is refused, never cut or padded
// into shape.
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "core/catalogue.h"
#include "sim_fixture.h"
#include "tarsel/motion.h"

namespace simtest {
namespace {

struct CatalogueRead {
  const char* name;
  int command;
  int size;
};

void PrintTo(const CatalogueRead& read, std::ostream* out) {
  *out << read.name;
}

std::vector<CatalogueRead> CatalogueReads() {
  std::vector<CatalogueRead> reads;
#define TARSEL_TEST_READ(name, number, shape, request, answer, form) \
  if (tarsel::Shape::shape == tarsel::Shape::kRead) reads.push_back({#name, number, answer});
  TARSEL_COMMANDS(TARSEL_TEST_READ)
#undef TARSEL_TEST_READ
  return reads;
}

// The states the answers are built from differently: at rest (the actual
// trajectory is where the arm stands), executing a queued point (it is that
// point), and moving under a velocity point.
enum class Activity { kAtRest, kExecutingPoint, kVelocity };

std::string ParamName(const CatalogueRead& read, Activity activity) {
  const char* const names[] = {"AtRest", "ExecutingPoint", "Velocity"};
  return std::string(read.name) + "_" + names[static_cast<int>(activity)];
}

class ReadAnswers : public SimTest,
                    public ::testing::WithParamInterface<std::tuple<CatalogueRead, Activity>> {};

TEST_P(ReadAnswers, HaveExactlyTheCatalogueSize) {
  const auto& [read, state] = GetParam();
  const float joints[6] = {40, 10, 150, 0, 60, 20};
  const float speeds[6] = {5, 0, 0, 0, 0, 5};
  const float fingers[3] = {1000, 1000, 1000};
  if (state == Activity::kExecutingPoint) {
    ASSERT_TRUE(Accepted(Write(arm, tarsel::command::SendBasicTrajectory,
                               BasicPoint(TARSEL_ANGULAR_POSITION, joints, fingers))));
  } else if (state == Activity::kVelocity) {
    ASSERT_TRUE(Accepted(Write(arm, tarsel::command::SendBasicTrajectory,
                               BasicPoint(TARSEL_ANGULAR_VELOCITY, speeds, fingers))));
  }
  Advance(0.1);
  std::string why;
  arm.SetObserver([&](const Packet&, const std::optional<Packet>&, const char* reason) {
    if (reason != nullptr) why = reason;
  });
  // Argument 0: the error log's first entry for the one read that takes one.
  const ReadResult r = Read(arm, read.command, 0);
  EXPECT_TRUE(Accepted(r.verdict)) << read.name << " refused: " << why;
  EXPECT_EQ(r.announced, read.size) << read.name;
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ReadAnswers,
    ::testing::Combine(::testing::ValuesIn(CatalogueReads()),
                       ::testing::Values(Activity::kAtRest, Activity::kExecutingPoint,
                                         Activity::kVelocity)),
    [](const auto& info) { return ParamName(std::get<0>(info.param), std::get<1>(info.param)); });

}  // namespace
}  // namespace simtest
