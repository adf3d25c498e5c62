// SPDX-License-Identifier: MIT
// An environment variable set for one test and put back as it was after it.
// The Windows test run gets setenv and unsetenv from tests/wine/compat.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace rigplot::test {

class SavedVariable {
 public:
  explicit SavedVariable(const char* name) : m_name(name) {
    if (const char* value = std::getenv(name)) m_saved = value;
  }
  ~SavedVariable() {
    if (m_saved) {
      setenv(m_name, m_saved->c_str(), 1);
    } else {
      unsetenv(m_name);
    }
  }
  SavedVariable(const SavedVariable&) = delete;
  SavedVariable& operator=(const SavedVariable&) = delete;

  // nullptr unsets it.
  void Set(const char* value) const { value ? setenv(m_name, value, 1) : unsetenv(m_name); }

 private:
  const char* m_name;
  std::optional<std::string> m_saved;
};

}  // namespace rigplot::test
