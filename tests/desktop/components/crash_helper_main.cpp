// A program that starts the crash reporter and then dies of a fatal signal, for the crash reporter's
// tests. Usage: desktop_crash_helper <database folder> <dsn> abort|segv
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "desktop/components/crash_reporter.h"

// Named so that the test finds it in the reported stack trace.
extern "C" __attribute__((noinline)) void velkoCrashHelperDiesNow(const char* how) {
    if (std::strcmp(how, "segv") == 0) {
        std::raise(SIGSEGV);
    }
    std::abort();
}

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: desktop_crash_helper <database folder> <dsn> abort|segv\n", stderr);
        return 2;
    }
    const QCoreApplication application(argc, argv);
    auto dsn = brisel::desktop::components::CrashReportDsn::parse(argv[2]);
    if (!dsn) {
        return 2;
    }
    brisel::desktop::components::CrashReporterOptions options;
    options.dsn = *dsn;
    options.environment = "develop";
    options.release = "velko-brisel@7+helper";
    options.databaseFolder = argv[1];
    brisel::desktop::components::CrashReporter reporter(options);
    reporter.start();
    std::printf("%s\n", reporter.sessionId().toStdString().c_str());
    std::fflush(stdout);
    velkoCrashHelperDiesNow(argv[3]);
    return 0;
}
