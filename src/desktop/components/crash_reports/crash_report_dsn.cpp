#include "desktop/components/crash_reports/crash_report_dsn.h"

#include <algorithm>
#include <cstdlib>

#include "desktop/components/build_info.h"

namespace brisel::desktop::components {

namespace {

constexpr std::string_view kClientName = "velko-brisel-crash-reporter/1.0";

std::string fromEnvironmentOr(const char* variable, std::string_view fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] != '\0' ? std::string(value) : std::string(fallback);
}

}  // namespace

tl::expected<CrashReportDsn, std::string> CrashReportDsn::parse(std::string_view text) {
    const QUrl url(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))) {
        return tl::make_unexpected(std::string("the DSN is not an http(s) address"));
    }
    if (url.userName().isEmpty() || !url.password().isEmpty()) {
        return tl::make_unexpected(std::string("the DSN has no public key"));
    }
    if (url.host().isEmpty()) {
        return tl::make_unexpected(std::string("the DSN has no host"));
    }
    const std::string project = url.path().mid(1).toStdString();
    if (!url.path().startsWith(QLatin1Char('/')) || project.empty() ||
        !std::all_of(project.begin(), project.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        url.hasQuery() || url.hasFragment()) {
        return tl::make_unexpected(std::string("the DSN's project is not a number"));
    }
    std::string host = url.host(QUrl::FullyEncoded).toStdString();
    if (url.port() != -1) {
        host += ":" + std::to_string(url.port());
    }
    return CrashReportDsn{url.scheme().toStdString(), url.userName().toStdString(), std::move(host), project};
}

std::string CrashReportDsn::text() const {
    return scheme + "://" + publicKey + "@" + host + "/" + project;
}

QUrl CrashReportDsn::envelopeUrl() const {
    return QUrl(QString::fromStdString(scheme + "://" + host + "/api/" + project + "/envelope/"));
}

std::string CrashReportDsn::authHeader() const {
    return "Sentry sentry_version=7, sentry_key=" + publicKey + ", sentry_client=" + std::string(kClientName);
}

std::optional<CrashReportDsn> crashReportingDsn(std::string_view host, std::string_view project) {
    if (host.empty() || project.empty()) {
        return std::nullopt;
    }
    auto dsn = CrashReportDsn::parse("https://" + std::string(kCrashReportPublicKey) + "@" +
                                     std::string(host) + "/" + std::string(project));
    return dsn ? std::optional<CrashReportDsn>(std::move(*dsn)) : std::nullopt;
}

std::optional<CrashReportDsn> crashReportingDsn() {
    return crashReportingDsn(fromEnvironmentOr(kCrashReportHostVariable, build_info::kCrashReportHost),
                             fromEnvironmentOr(kCrashReportProjectVariable, build_info::kCrashReportProject));
}

std::string crashReportEnvironment(std::string_view branch) {
    if (branch.starts_with("release")) {
        return "release";
    }
    return branch == "master" ? "production" : "develop";
}

}  // namespace brisel::desktop::components
