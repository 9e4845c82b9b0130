#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QtQmlIntegration/qqmlintegration.h>

// The one failure record of the system: what kind of failure happened, a stable code, texts for
// the user and for support, the HTTP status and network error behind it, and whether a retry or
// a word with support makes sense. A value type; an empty code means no failure. QML reads it
// inside signals and properties but cannot create it.
class AppFailure
{
    Q_GADGET
    QML_ANONYMOUS
    Q_PROPERTY(QString category MEMBER category)
    Q_PROPERTY(QString code MEMBER code)
    Q_PROPERTY(QString severity MEMBER severity)
    Q_PROPERTY(QString userMessage MEMBER userMessage)
    Q_PROPERTY(QString technicalDetails MEMBER technicalDetails)
    Q_PROPERTY(int httpStatus MEMBER httpStatus)
    Q_PROPERTY(int networkError MEMBER networkError)
    Q_PROPERTY(bool retryable MEMBER retryable)
    Q_PROPERTY(bool supportRecommended MEMBER supportRecommended)

public:
    QString category;
    QString code;
    QString severity;
    QString userMessage;
    QString technicalDetails;
    qint32 httpStatus = 0;
    qint32 networkError = 0;
    bool retryable = false;
    bool supportRecommended = false;

    // A failure the client detected itself. The texts are taken as given: callers pass an
    // already translated message.
    [[nodiscard]] static AppFailure local(const QString &code, const QString &userMessage,
                                          const QString &category, bool retryable);

    // Classifies the outcome of one HTTP request and reads the backend's error body, if any.
    [[nodiscard]] static AppFailure fromResponse(int httpStatus, QNetworkReply::NetworkError networkError,
                                                 const QByteArray &body, const QString &fallbackMessage);

    // Makes the record travel in QVariants and queued signals under the name "AppFailure". Start-up
    // calls it first thing, before the application object exists.
    static void registerMetaType();

    friend bool operator==(const AppFailure &, const AppFailure &) = default;
};

Q_DECLARE_METATYPE(AppFailure)
