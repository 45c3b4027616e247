#include "common/standard_output.h"

#include <string>

namespace brisel::common {

StandardOutput::StandardOutput(std::FILE* stream, std::size_t pendingLimitBytes)
    : output(stream),
      batcher(
          "com.velko.brisel_core.StandardOutputQueue", QualityOfService::utility,
          [this](const std::string& lines, std::uint64_t leftOutAfter) { writeBatch(lines, leftOutAfter); },
          pendingLimitBytes) {}

void StandardOutput::writeBatch(const std::string& lines, std::uint64_t linesLeftOutAfter) {
    flockfile(output);
    std::fwrite(lines.data(), 1, lines.size(), output);
    if (linesLeftOutAfter > 0) {
        const std::string note = std::to_string(linesLeftOutAfter) +
                                 " lines were not printed here because standard output was not being read; "
                                 "the log file has them\n";
        std::fwrite(note.data(), 1, note.size(), output);
    }
    std::fflush(output);
    funlockfile(output);
}

StandardOutput& standardOutput() {
    static StandardOutput instance(stdout);
    return instance;
}

void printLine(std::string_view line) {
    standardOutput().print(line);
}

}  // namespace brisel::common
