#include "desktop/link/notice_bus.h"

#include <QDBusMessage>
#include <QDebug>
#include <utility>

#include "common/desktop_link.h"
#include "desktop/link/link_text.h"

namespace brisel::desktop::link {

namespace {
constexpr int kPostBoundMilliseconds = 5000;
}  // namespace

bool postNotice(QDBusConnection bus, const QString& name, const QString& object) {
    QDBusMessage notice = QDBusMessage::createSignal(qtText(desktop_link::kNoticeObjectPath),
                                                     qtText(desktop_link::kNoticeInterface),
                                                     qtText(desktop_link::kNoticeSignal));
    notice << name << object;
    if (!bus.isConnected() || !bus.send(notice)) {
        qWarning().noquote() << "Cannot post the notice" << name << "on the session bus";
        return false;
    }
    // Messages leave in order: once the bus answers this ping, it has the notice, even when this
    // program quits right after.
    const QDBusMessage answer =
        bus.call(QDBusMessage::createMethodCall(
                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                     QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
                 QDBus::Block, kPostBoundMilliseconds);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        qWarning().noquote() << "The session bus did not confirm the notice" << name << ":"
                             << answer.errorMessage();
    }
    return true;
}

NoticeListener::NoticeListener(QDBusConnection noticeBus, QString noticeName, QString noticeObject,
                               std::function<void()> handler)
    : bus(std::move(noticeBus)),
      name(std::move(noticeName)),
      object(std::move(noticeObject)),
      onNotice(std::move(handler)) {
    listening = bus.isConnected() &&
                bus.connect(QString(), qtText(desktop_link::kNoticeObjectPath),
                            qtText(desktop_link::kNoticeInterface), qtText(desktop_link::kNoticeSignal), this,
                            SLOT(receive(QString, QString)));
    if (!listening) {
        qWarning().noquote() << "Cannot listen for the notice" << name << "on the session bus";
    }
}

NoticeListener::~NoticeListener() {
    if (listening) {
        bus.disconnect(QString(), qtText(desktop_link::kNoticeObjectPath),
                       qtText(desktop_link::kNoticeInterface), qtText(desktop_link::kNoticeSignal), this,
                       SLOT(receive(QString, QString)));
    }
}

void NoticeListener::receive(const QString& noticeName, const QString& noticeObject) {
    if (noticeName == name && noticeObject == object) {
        onNotice();
    }
}

}  // namespace brisel::desktop::link
