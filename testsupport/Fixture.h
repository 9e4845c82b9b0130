#pragma once

#include "testsupport/FixtureServer.h"
#include "testsupport/QtMessageRecorder.h"

#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <memory>

namespace quorin::test {

// The Qt Quick tests' hold on the world outside the interface, as the singleton "Fixture" of
// "Quorin.Testing": it scripts the answers of the HTTPS fixture server that the backend client
// talks to, reads back what reached that server, takes the links the interface hands to the
// desktop ("https", "file" and "tg") in place of opening them, and keeps every Qt message printed
// once the tests run (passing each on, so TestCase.failOnWarning still sees warnings).
//
// Paths are relative to the API root ("auth/login", "users/me?include=enrollments"); a path that
// starts with "/" is taken as it is.
class Fixture : public QObject
{
    Q_OBJECT

public:
    explicit Fixture(FixtureServer &server, QObject *parent = nullptr);
    ~Fixture() override;

    // Starts keeping Qt's messages; called when the first test document reaches the fixture,
    // after the test framework has installed its own message handler.
    void startRecordingMessages();

    // Answers, in order, the last one repeated. Each answer is a map: "status" (200), "body" (a
    // text as it is, an object or a list as compact JSON), "headers" (a map), "delayMs", "held"
    // (sent only on release()), "drop" (the connection is closed without an answer, as a network
    // failure).
    Q_INVOKABLE void script(const QString &path, const QVariantList &answers);
    // The server's address of a path, for links the interface fetches itself (images).
    [[nodiscard]] Q_INVOKABLE QString url(const QString &path) const;
    // One answer, repeated.
    Q_INVOKABLE void respond(const QString &path, int status, const QVariant &body = QVariant());
    Q_INVOKABLE void release(const QString &path);
    // Forgets the scripts and the request log; later requests get 404.
    Q_INVOKABLE void reset();

    // What reached the server, oldest first; all requests when path is empty. Each is a map:
    // "method", "path" (relative to the API root when under it, query included), "body" (parsed
    // when it is JSON, else the text), "text" (the body as text) and "headers" (lower-case names).
    [[nodiscard]] Q_INVOKABLE QVariantList requests(const QString &path = QString()) const;
    [[nodiscard]] Q_INVOKABLE int requestCount(const QString &path) const;
    Q_INVOKABLE void clearRequests();

    // The paths SettingsController asked the backend client for since the last clear, sent or
    // not: a request the client gives up on while nobody is signed in never reaches the log.
    [[nodiscard]] Q_INVOKABLE QStringList settingsRequests() const { return m_settingsRequests; }
    Q_INVOKABLE void clearSettingsRequests() { m_settingsRequests.clear(); }
    void noteSettingsRequest(const QString &path) { m_settingsRequests.append(path); }

    // Links handed to the desktop since the last clear, oldest first.
    [[nodiscard]] Q_INVOKABLE QStringList openedUrls() const { return m_openedUrls; }
    Q_INVOKABLE void clearOpenedUrls() { m_openedUrls.clear(); }

    // Qt's messages since recording started or the last clear, as "category: text", debug ones
    // included.
    [[nodiscard]] Q_INVOKABLE QStringList messages() const;
    Q_INVOKABLE void clearMessages();

Q_SIGNALS:
    void urlOpened(const QString &url);

private Q_SLOTS:
    void openUrl(const QUrl &url);

private:
    [[nodiscard]] static QString route(const QString &path);
    [[nodiscard]] static FixtureServer::Response answerFrom(const QVariantMap &answer);

    FixtureServer &m_server;
    QStringList m_openedUrls;
    QStringList m_settingsRequests;
    std::unique_ptr<QtMessageRecorder> m_messages;
};

} // namespace quorin::test
