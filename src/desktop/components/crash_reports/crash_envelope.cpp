#include "desktop/components/crash_reports/crash_envelope.h"

#include <cxxabi.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <cstdlib>
#include <memory>

namespace brisel::desktop::components {

namespace {

QString isoTime(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString hex(std::uintptr_t value) {
    return QStringLiteral("0x") + QString::number(value, 16);
}

QString demangled(const std::string& symbol) {
    int status = -1;
    const std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status), &std::free);
    return QString::fromStdString(status == 0 && name ? std::string(name.get()) : symbol);
}

QByteArray line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray item(const char* type, const QJsonObject& payload) {
    const QByteArray body = QJsonDocument(payload).toJson(QJsonDocument::Compact);
    return line(QJsonObject{{QStringLiteral("type"), QLatin1String(type)},
                            {QStringLiteral("length"), static_cast<qint64>(body.size())}}) +
           body + '\n';
}

QJsonObject sessionPayload(const SessionUpdate& session) {
    QJsonObject payload{
        {QStringLiteral("sid"), session.sid},
        {QStringLiteral("init"), session.init},
        {QStringLiteral("started"), isoTime(session.started)},
        {QStringLiteral("timestamp"), isoTime(session.timestamp)},
        {QStringLiteral("status"), QString::fromStdString(sessionStatusText(session.status))},
        {QStringLiteral("errors"), session.errors},
        {QStringLiteral("attrs"),
         QJsonObject{{QStringLiteral("release"), QString::fromStdString(session.release)},
                     {QStringLiteral("environment"), QString::fromStdString(session.environment)}}},
    };
    if (session.status != SessionUpdate::Status::ok) {
        payload.insert(QStringLiteral("duration"),
                       static_cast<double>(session.started.msecsTo(session.timestamp)) / 1000.0);
    }
    return payload;
}

QJsonObject envelopeHeader(const CrashReportDsn& dsn) {
    return {{QStringLiteral("sent_at"), isoTime(QDateTime::currentDateTimeUtc())},
            {QStringLiteral("dsn"), QString::fromStdString(dsn.text())}};
}

}  // namespace

std::string sessionStatusText(SessionUpdate::Status status) {
    switch (status) {
        case SessionUpdate::Status::ok:
            return "ok";
        case SessionUpdate::Status::exited:
            return "exited";
        case SessionUpdate::Status::crashed:
            return "crashed";
        case SessionUpdate::Status::abnormal:
            return "abnormal";
    }
    return "ok";
}

QByteArray sessionEnvelope(const CrashReportDsn& dsn, const SessionUpdate& session) {
    return line(envelopeHeader(dsn)) + item("session", sessionPayload(session));
}

QByteArray crashEnvelope(const CrashReportDsn& dsn, const CrashMarker& marker, const QDateTime& crashedAt,
                         const std::string& release, const std::string& environment,
                         const std::optional<SessionUpdate>& crashedSession) {
    const QString eventId = QUuid::createUuid().toString(QUuid::Id128);
    QJsonArray frames;
    for (auto frame = marker.frames.rbegin(); frame != marker.frames.rend(); ++frame) {
        QJsonObject entry{{QStringLiteral("instruction_addr"), hex(frame->address)}};
        if (frame->symbol) {
            entry.insert(QStringLiteral("symbol"), QString::fromStdString(*frame->symbol));
            entry.insert(QStringLiteral("function"), demangled(*frame->symbol));
            entry.insert(QStringLiteral("symbol_addr"), hex(frame->address - frame->symbolOffset));
        }
        if (frame->sourceFile) {
            entry.insert(QStringLiteral("filename"), QString::fromStdString(*frame->sourceFile));
            entry.insert(QStringLiteral("lineno"), frame->sourceLine);
        }
        if (frame->module) {
            entry.insert(QStringLiteral("package"), QString::fromStdString(*frame->module));
            entry.insert(QStringLiteral("image_addr"), hex(frame->moduleStart));
        }
        frames.append(entry);
    }
    const QJsonObject exception{
        {QStringLiteral("type"), QString::fromStdString(signalName(marker.signal))},
        {QStringLiteral("value"), QString::fromStdString(signalDescription(marker.signal))},
        {QStringLiteral("mechanism"),
         QJsonObject{{QStringLiteral("type"), QStringLiteral("signalhandler")},
                     {QStringLiteral("handled"), false},
                     {QStringLiteral("meta"),
                      QJsonObject{{QStringLiteral("signal"),
                                   QJsonObject{{QStringLiteral("number"), marker.signal},
                                               {QStringLiteral("name"),
                                                QString::fromStdString(signalName(marker.signal))}}}}}}},
        {QStringLiteral("stacktrace"), QJsonObject{{QStringLiteral("frames"), frames}}},
    };
    const QJsonObject event{
        {QStringLiteral("event_id"), eventId},
        {QStringLiteral("timestamp"), isoTime(crashedAt)},
        {QStringLiteral("platform"), QStringLiteral("native")},
        {QStringLiteral("level"), QStringLiteral("fatal")},
        {QStringLiteral("release"), QString::fromStdString(release)},
        {QStringLiteral("environment"), QString::fromStdString(environment)},
        {QStringLiteral("exception"), QJsonObject{{QStringLiteral("values"), QJsonArray{exception}}}},
        {QStringLiteral("contexts"),
         QJsonObject{{QStringLiteral("os"), QJsonObject{{QStringLiteral("name"), QStringLiteral("Linux")}}}}},
    };
    QJsonObject header = envelopeHeader(dsn);
    header.insert(QStringLiteral("event_id"), eventId);
    QByteArray envelope = line(header) + item("event", event);
    if (crashedSession) {
        envelope += item("session", sessionPayload(*crashedSession));
    }
    return envelope;
}

}  // namespace brisel::desktop::components
