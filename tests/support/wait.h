// SPDX-License-Identifier: MIT
// Waiting for another thread or process to get somewhere. The deadline is
// generous, so that a busy machine passes too: a wait that is met returns at
// once, only a failing test pays for it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace rigplot::test {

inline constexpr std::chrono::seconds kPatience{30};

// Polls `done` until it holds; false once `limit` has passed.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// WaitUntil for an assertion: a timeout fails naming what was awaited and
// what `seen` shows at that moment.
inline ::testing::AssertionResult WaitFor(std::string_view what, const std::function<bool()>& done,
                                          const std::function<std::string()>& seen,
                                          std::chrono::milliseconds limit = kPatience) {
  if (WaitUntil(done, limit)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "waited " << std::chrono::duration<double>(limit).count()
                                       << " s for " << what << "; saw: " << seen();
}

}  // namespace rigplot::test
