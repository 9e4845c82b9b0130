#include "app/AppFailure.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QTest>

namespace {

QString compactJson(const QByteArray &body)
{
    return QString::fromUtf8(QJsonDocument::fromJson(body).toJson(QJsonDocument::Compact));
}

QString parserErrorText(const QByteArray &body)
{
    QJsonParseError error;
    QJsonDocument::fromJson(body, &error);
    return error.errorString();
}

QByteArray errorBody(const QString &error)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), error}}).toJson(QJsonDocument::Compact);
}

const QString Fallback = QStringLiteral("  Could not reach the server.  ");
const QString TrimmedFallback = QStringLiteral("Could not reach the server.");

} // namespace

class tst_AppFailure : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { AppFailure::registerMetaType(); }

    void classifiesStatusAndNetworkError_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("severity");
        QTest::addColumn<bool>("retryable");
        QTest::addColumn<bool>("supportRecommended");

        const QString network = QStringLiteral("network");
        const QString error = QStringLiteral("error");
        const QString critical = QStringLiteral("critical");
        QTest::newRow("host not found") << 0 << 3 << network << "NETWORK_DNS" << error << true << false;
        QTest::newRow("no status, no error") << 0 << 0 << network << "NETWORK_0" << error << true << false;
        QTest::newRow("200 without error") << 200 << 0 << "unknown"
                                           << "HTTP_200" << error << false << false;
        QTest::newRow("negative status") << -1 << 0 << "unknown"
                                         << "NETWORK_0" << error << false << false;
        QTest::newRow("TLS without status")
            << 0 << 6 << network << "NETWORK_TLS" << critical << true << false;
        QTest::newRow("403 with TLS failure") << 403 << 6 << "authentication"
                                              << "HTTP_403" << critical << false << true;
        QTest::newRow("401") << 401 << 204 << "authentication"
                             << "HTTP_401" << error << false << false;
        QTest::newRow("408") << 408 << 0 << "validation"
                             << "HTTP_408" << error << true << false;
        QTest::newRow("409") << 409 << 0 << "conflict"
                             << "HTTP_409" << error << false << false;
        QTest::newRow("429") << 429 << 0 << "rate_limit"
                             << "HTTP_429" << error << true << false;
        QTest::newRow("503") << 503 << 0 << "server"
                             << "HTTP_503" << critical << true << false;
        QTest::newRow("connection refused")
            << 0 << 1 << network << "NETWORK_OFFLINE" << error << true << false;
        QTest::newRow("remote host closed")
            << 0 << 2 << network << "NETWORK_OFFLINE" << error << true << false;
        QTest::newRow("temporary failure")
            << 0 << 7 << network << "NETWORK_OFFLINE" << error << true << false;
        QTest::newRow("session failed") << 0 << 8 << network << "NETWORK_OFFLINE" << error << true << false;
        QTest::newRow("time-out") << 0 << 4 << network << "NETWORK_TIMEOUT" << error << true << false;
        QTest::newRow("unknown error") << 0 << 99 << network << "NETWORK_99" << error << true << false;
        QTest::newRow("negative status with time-out")
            << -1 << 4 << network << "NETWORK_TIMEOUT" << error << true << false;
        QTest::newRow("200 with temporary failure")
            << 200 << 7 << network << "HTTP_200" << error << true << false;
    }

    void classifiesStatusAndNetworkError()
    {
        QFETCH(int, status);
        QFETCH(int, error);
        QFETCH(QString, category);
        QFETCH(QString, code);
        QFETCH(QString, severity);
        QFETCH(bool, retryable);
        QFETCH(bool, supportRecommended);

        const AppFailure failure =
            AppFailure::fromResponse(status, QNetworkReply::NetworkError(error), QByteArray(), Fallback);
        QCOMPARE(failure.category, category);
        QCOMPARE(failure.code, code);
        QCOMPARE(failure.severity, severity);
        QCOMPARE(failure.retryable, retryable);
        QCOMPARE(failure.supportRecommended, supportRecommended);
        QCOMPARE(failure.httpStatus, status);
        QCOMPARE(failure.networkError, error);
        QCOMPARE(failure.userMessage, TrimmedFallback);
        QCOMPARE(failure.technicalDetails, QString());
    }

    void blankFallbackGivesTheGenericMessage_data()
    {
        QTest::addColumn<QString>("fallback");
        QTest::newRow("empty") << QString();
        QTest::newRow("white space") << QStringLiteral(" \t\n ");
    }

    void blankFallbackGivesTheGenericMessage()
    {
        QFETCH(QString, fallback);
        const AppFailure failure =
            AppFailure::fromResponse(500, QNetworkReply::InternalServerError, {}, fallback);
        QCOMPARE(failure.userMessage, QStringLiteral("The request could not be completed."));
    }

    void readsTheBody_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("userMessage");
        QTest::addColumn<QString>("technicalDetails");

        const QByteArray credentials = R"({"error":"invalid-credentials","message":"Wrong password"})";
        QTest::newRow("backend code and message") << 401 << credentials << "INVALID_CREDENTIALS"
                                                  << "Wrong password" << QString::fromUtf8(credentials);

        const QByteArray spaced = R"({"error":"Invalid credentials"})";
        QTest::newRow("error text with a space is a message") << 401 << spaced << "HTTP_401"
                                                              << "Invalid credentials" << compactJson(spaced);

        const QByteArray dotted = R"({"error":"rate.limited"})";
        QTest::newRow("code alone is also the message") << 429 << dotted << "RATE.LIMITED"
                                                        << "RATE.LIMITED" << compactJson(dotted);

        const QByteArray padded = R"({"error":"  quota_exceeded ","details":"  Try tomorrow. "})";
        QTest::newRow("trimmed code, trimmed details") << 400 << padded << "QUOTA_EXCEEDED"
                                                       << "Try tomorrow." << compactJson(padded);

        const QString eighty(80, QLatin1Char('a'));
        QTest::newRow("80 characters make a code") << 400 << errorBody(eighty) << eighty.toUpper()
                                                   << eighty.toUpper() << compactJson(errorBody(eighty));

        const QString eightyOne(81, QLatin1Char('a'));
        QTest::newRow("81 characters make no code")
            << 400 << errorBody(eightyOne) << "HTTP_400" << eightyOne << compactJson(errorBody(eightyOne));

        const QString arabic = QStringLiteral(u"خطأ_1");
        QTest::newRow("letters of another script make a code")
            << 400 << errorBody(arabic) << arabic << arabic << compactJson(errorBody(arabic));

        const QString astral = QStringLiteral(u"code\U0001D400");
        QTest::newRow("character outside the basic plane makes no code")
            << 400 << errorBody(astral) << "HTTP_400" << astral << compactJson(errorBody(astral));

        const QByteArray listed = R"({"message":["A","B"],"details":"A"})";
        QTest::newRow("messages from an array, duplicates dropped")
            << 400 << listed << "HTTP_400"
            << "A" << compactJson(listed) + QStringLiteral("\nB");

        const QByteArray nested = R"({"error":{"message":"X","details":["Y",""]}})";
        QTest::newRow("error object is read for messages")
            << 422 << nested << "HTTP_422"
            << "X" << compactJson(nested) + QStringLiteral("\nY");

        const QByteArray ignored = R"({"error":42,"hint":"not read","message":{"text":"not read either"}})";
        QTest::newRow("unread members leave the fallback")
            << 400 << ignored << "HTTP_400" << TrimmedFallback << compactJson(ignored);

        const QByteArray html = "<html><body>" + QByteArray(4975, 'x') + "</body></html>";
        QTest::newRow("HTML is quoted up to 2048 bytes")
            << 502 << html << "HTTP_502" << TrimmedFallback
            << parserErrorText(html) + QStringLiteral(": ") + QString::fromLatin1(html.left(2048));

        const QByteArray shortText = "  Bad Gateway\n";
        QTest::newRow("short text is quoted whole and untrimmed")
            << 502 << shortText << "HTTP_502" << TrimmedFallback
            << parserErrorText(shortText) + QStringLiteral(": ") + QString::fromLatin1(shortText);

        QTest::newRow("white space body")
            << 502 << QByteArray("  \r\n\t ") << "HTTP_502" << TrimmedFallback << QString();

        const QByteArray array = R"(["error","message"])";
        QJsonParseError noError;
        noError.error = QJsonParseError::NoError;
        QTest::newRow("JSON array is not read")
            << 400 << array << "HTTP_400" << TrimmedFallback
            << noError.errorString() + QStringLiteral(": ") + QString::fromLatin1(array);
    }

    void readsTheBody()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, code);
        QFETCH(QString, userMessage);
        QFETCH(QString, technicalDetails);

        const AppFailure failure =
            AppFailure::fromResponse(status, QNetworkReply::UnknownServerError, body, Fallback);
        QCOMPARE(failure.code, code);
        QCOMPARE(failure.userMessage, userMessage);
        QCOMPARE(failure.technicalDetails, technicalDetails);
    }

    void bodyCodeKeepsTheClassification()
    {
        const AppFailure failure = AppFailure::fromResponse(503, QNetworkReply::ServiceUnavailableError,
                                                            R"({"error":"maintenance"})", {});
        QCOMPARE(failure.code, QStringLiteral("MAINTENANCE"));
        QCOMPARE(failure.category, QStringLiteral("server"));
        QCOMPARE(failure.severity, QStringLiteral("critical"));
        QVERIFY(failure.retryable);
        QCOMPARE(failure.httpStatus, 503);
    }

    void quotedBodyCutInsideACharacterEndsInAReplacement()
    {
        // 2047 ASCII bytes, then a two-byte character that the limit cuts in half.
        const QByteArray body = QByteArray(2047, 'x') + QStringLiteral(u"é and more").toUtf8();
        const AppFailure failure = AppFailure::fromResponse(502, QNetworkReply::UnknownServerError, body, {});
        QVERIFY(failure.technicalDetails.endsWith(QString(2047, QLatin1Char('x')) +
                                                  QChar(QChar::ReplacementCharacter)));
    }

    void localCopiesItsArguments_data()
    {
        QTest::addColumn<bool>("retryable");
        QTest::newRow("retryable") << true;
        QTest::newRow("final") << false;
    }

    void localCopiesItsArguments()
    {
        QFETCH(bool, retryable);
        const AppFailure failure =
            AppFailure::local(QStringLiteral(" PDF_TOO_LARGE "), QStringLiteral("  The file is too large. "),
                              QStringLiteral(" server "), retryable);
        QCOMPARE(failure.code, QStringLiteral(" PDF_TOO_LARGE "));
        QCOMPARE(failure.userMessage, QStringLiteral("  The file is too large. "));
        QCOMPARE(failure.category, QStringLiteral(" server "));
        QCOMPARE(failure.severity, QStringLiteral("error"));
        QCOMPARE(failure.retryable, retryable);
        QCOMPARE(failure.supportRecommended, false);
        QCOMPARE(failure.httpStatus, 0);
        QCOMPARE(failure.networkError, 0);
        QCOMPARE(failure.technicalDetails, QString());
    }

    void defaultRecordIsNoFailure()
    {
        const AppFailure failure;
        QVERIFY(failure.code.isEmpty());
        QVERIFY(failure.category.isEmpty() && failure.severity.isEmpty() && failure.userMessage.isEmpty() &&
                failure.technicalDetails.isEmpty());
        QCOMPARE(failure.httpStatus, 0);
        QCOMPARE(failure.networkError, 0);
        QVERIFY(!failure.retryable && !failure.supportRecommended);
    }

    void travelsInVariants()
    {
        const QMetaType type = QMetaType::fromName("AppFailure");
        QVERIFY(type.isValid());
        QCOMPARE(type, QMetaType::fromType<AppFailure>());

        const AppFailure failure = AppFailure::fromResponse(409, QNetworkReply::ContentConflictError, {}, {});
        QCOMPARE(QVariant::fromValue(failure).value<AppFailure>(), failure);
    }

    void propertiesAreTheFieldsInOrder()
    {
        // The property names are what QML reads, in the record's order.
        const QMetaObject &meta = AppFailure::staticMetaObject;
        QStringList names;
        for (int index = meta.propertyOffset(); index < meta.propertyCount(); ++index)
            names.append(QString::fromLatin1(meta.property(index).name()));
        QCOMPARE(names, (QStringList{"category", "code", "severity", "userMessage", "technicalDetails",
                                     "httpStatus", "networkError", "retryable", "supportRecommended"}));
        QVERIFY(meta.property(meta.indexOfProperty("code")).isWritable());
        QVERIFY(!meta.property(meta.indexOfProperty("code")).hasNotifySignal());
    }
};

QTEST_GUILESS_MAIN(tst_AppFailure)
#include "tst_AppFailure.moc"
