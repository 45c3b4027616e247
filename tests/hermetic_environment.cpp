// Linked into every test program: before any test runs, HOME and TMPDIR point at a fresh folder
// of this run, so that nothing (the global logger's file included) reaches the user's real home or
// temporary folder. The folder is removed when the program ends.
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

class HermeticEnvironment {
  public:
    HermeticEnvironment() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/brisel-test-env-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();  // no test may run against the real home
        }
        root = pattern;
        std::filesystem::create_directory(root / "home");
        std::filesystem::create_directory(root / "tmp");
        setenv("HOME", (root / "home").c_str(), 1);
        setenv("TMPDIR", (root / "tmp").c_str(), 1);
    }
    ~HermeticEnvironment() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    HermeticEnvironment(const HermeticEnvironment&) = delete;
    HermeticEnvironment& operator=(const HermeticEnvironment&) = delete;

  private:
    std::filesystem::path root;
};

const HermeticEnvironment hermeticEnvironment;

}  // namespace
