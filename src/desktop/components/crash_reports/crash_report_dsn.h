// Where crash reports go: the ingestion service's DSN ("https://<public key>@<host>/<project>"), and
// the reporting environment chosen by the branch.
#pragma once

#include <QUrl>

#include <optional>
#include <string>
#include <string_view>

#include <tl/expected.hpp>

namespace brisel::desktop::components {

// The project's public key at the ingestion service.
inline constexpr std::string_view kCrashReportPublicKey = "7b3e0d5a91c4462f8e2ba6d01f9c3e58";
// The environment variables that replace the build's ingestion host and project (tests, staging).
inline constexpr const char* kCrashReportHostVariable = "BRISEL_CRASH_REPORT_HOST";
inline constexpr const char* kCrashReportProjectVariable = "BRISEL_CRASH_REPORT_PROJECT";

struct CrashReportDsn {
    std::string scheme;     // "https" (or "http")
    std::string publicKey;  // the user part
    std::string host;       // host, with ":port" when the DSN has one
    std::string project;    // the path, one segment of digits

    // Parses the standard form. Errors: a readable reason (not http(s), no key, no host, a project
    // that is not one segment of digits).
    static tl::expected<CrashReportDsn, std::string> parse(std::string_view text);

    // "<scheme>://<key>@<host>/<project>"
    std::string text() const;
    // "<scheme>://<host>/api/<project>/envelope/", where envelopes are posted.
    QUrl envelopeUrl() const;
    // The value of the authentication header of each post, naming the protocol version 7, the key
    // and this client.
    std::string authHeader() const;
};

// "https://" + kCrashReportPublicKey + "@" + host + "/" + project, parsed; none when either is
// empty or the result is not a DSN.
std::optional<CrashReportDsn> crashReportingDsn(std::string_view host, std::string_view project);

// The DSN of this build: host and project from the environment variables when set and not empty,
// else from the build (build_info.h); none when the build has no ingestion service.
std::optional<CrashReportDsn> crashReportingDsn();

// "release" when `branch` begins with "release", "production" for exactly "master", else "develop".
std::string crashReportEnvironment(std::string_view branch);

}  // namespace brisel::desktop::components
