// Notices between the desktop programs: a broadcast signal on the session bus that carries a notice's
// name and its object (the identifier of the program that posts it), like "killLauncher" from
// com.Velko.Brisel. Anyone on the bus may post; a listener filters by name and object.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

namespace brisel::desktop::link {

// Broadcasts one notice on `bus` and waits (at most 5 s) until the bus has it. Returns false (and
// logs) when it could not be sent. Main thread.
bool postNotice(QDBusConnection bus, const QString& name, const QString& object);

// Calls `onNotice` on the main thread for each notice whose name and object are exactly the given
// ones, from its construction to its destruction; other notices are ignored.
class NoticeListener : public QObject {
    Q_OBJECT
  public:
    NoticeListener(QDBusConnection noticeBus, QString noticeName, QString noticeObject,
                   std::function<void()> handler);
    ~NoticeListener() override;
    NoticeListener(const NoticeListener&) = delete;
    NoticeListener& operator=(const NoticeListener&) = delete;

    // Whether the subscription on the bus is in place.
    bool isListening() const { return listening; }

  private slots:
    void receive(const QString& noticeName, const QString& noticeObject);

  private:
    QDBusConnection bus;
    QString name;
    QString object;
    std::function<void()> onNotice;
    bool listening = false;
};

}  // namespace brisel::desktop::link
