// A fresh folder for one test, removed with everything in it on destruction; and a scoped
// environment variable.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace brisel::test_support {

// Created under $TMPDIR (or /tmp) with a unique name.
class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return root; }

  private:
    std::filesystem::path root;
};

// Sets (or with nullopt, unsets) an environment variable and restores it on destruction.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string variable;
    std::optional<std::string> previous;
};

}  // namespace brisel::test_support
