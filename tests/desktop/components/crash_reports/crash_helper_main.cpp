// A program that starts the crash reporter and then dies of a fatal signal, for the crash reporter's
// tests. Usage: desktop_crash_helper <database folder> <dsn>
// abort|segv|abort-when-told|abort-when-told-beside-thread|quit-when-told
//
// The "when told" kinds print the session, and with "beside-thread" the thread id of a second thread
// that only waits, each on a line of its own, then abort (or close the reporter and quit) once a line
// arrives on standard input.
#include <unistd.h>

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "desktop/components/crash_reports/crash_reporter.h"

// Named so that the test finds it in the reported stack trace.
extern "C" __attribute__((noinline)) void velkoCrashHelperDiesNow(const char* how) {
    if (std::strcmp(how, "segv") == 0) {
        std::raise(SIGSEGV);
    }
    std::abort();
}

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs(
            "usage: desktop_crash_helper <database folder> <dsn> "
            "abort|segv|abort-when-told|abort-when-told-beside-thread|quit-when-told\n",
            stderr);
        return 2;
    }
    const std::string_view how = argv[3];
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
    if (how == "quit-when-told") {
        (void)std::getchar();
        reporter.close();
        return 0;
    }
    if (how.starts_with("abort-when-told")) {
        std::thread waiting;  // never joined: the process ends while it waits
        if (how.ends_with("beside-thread")) {
            waiting = std::thread([] {
                std::printf("%d\n", static_cast<int>(::gettid()));
                std::fflush(stdout);
                for (;;) {
                    ::pause();
                }
            });
        }
        (void)std::getchar();  // a byte, or the end of the input, says when to crash
        velkoCrashHelperDiesNow("abort");
    }
    velkoCrashHelperDiesNow(argv[3]);
    return 0;
}
