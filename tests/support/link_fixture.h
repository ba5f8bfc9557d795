// Shared test fixture: the API bound to the recording stand-in link, plus
// small helpers for building and inspecting payloads.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "bytes.h"
#include "recording_link.h"
#include "tarsel/tarsel.h"

namespace tarsel::testing {

// Every test starts with a fresh script and an open API.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::Reset();
    ASSERT_EQ(InitAPI(), TARSEL_OK);
  }
  void TearDown() override { CloseAPI(); }

  static const std::vector<Packet>& Sent() { return recording::Requests(); }
};

}  // namespace tarsel::testing
